// The texts a clip shows, and the user's guide that explains them.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/ShownTexts.h"
#include "support/TestSupport.h"

namespace mirandel::text {
namespace {

// A text as the guide writes it: each {name} as ⟨name⟩ (U+27E8, U+27E9).
std::string asGuideWrites(std::string t) {
  for (auto [from, to] : {std::pair{"{", "\xE2\x9F\xA8"}, {"}", "\xE2\x9F\xA9"}})
    for (std::size_t at; (at = t.find(from)) != std::string::npos;) t.replace(at, 1, to);
  return t;
}

// The first cell of each row of the table under the heading `section` ("### Status").
std::set<std::string> tableTexts(const std::string& guide, const std::string& section) {
  std::set<std::string> texts;
  const std::size_t heading = guide.find("\n" + section + "\n");
  if (heading == std::string::npos) return texts;
  std::istringstream in(guide.substr(heading + section.size() + 2));
  std::string line;
  int rows = 0;
  while (std::getline(in, line) && line.rfind("#", 0) != 0) {
    if (line.rfind("| ", 0) != 0) continue;  // not a row, or the rule under the header
    if (rows++ == 0) continue;               // the header
    texts.insert(line.substr(2, line.find(" | ") - 2));
  }
  return texts;
}

template <std::size_t N>
std::set<std::string> asGuideWrites(const char* const (&texts)[N]) {
  std::set<std::string> out;
  for (const char* t : texts) out.insert(asGuideWrites(t));
  return out;
}

// Guards against a guide that no longer says what the clip shows: a text changed, added or
// dropped in the code must be changed, added or dropped in the guide's tables, and every
// reason and state that fills one in must be explained there too.
TEST(ShownTexts, TheGuideListsEveryTextAClipShowsAndNoOther) {
  const std::vector<std::uint8_t> bytes = test::readFile(test::sourcePath("GUIDE.md"));
  ASSERT_FALSE(bytes.empty()) << "no GUIDE.md";
  const std::string guide(bytes.begin(), bytes.end());
  EXPECT_EQ(tableTexts(guide, "### Status"), asGuideWrites(kStatusTexts));
  EXPECT_EQ(tableTexts(guide, "### Picture"), asGuideWrites(kPictureTexts));
  EXPECT_EQ(tableTexts(guide, "### FPS"), asGuideWrites(kFpsTexts));
  for (const char* part : kParts)
    EXPECT_NE(guide.find("\"" + asGuideWrites(part) + "\""), std::string::npos)
        << "the guide does not explain \"" << part << "\"";
}

// Guards the filling in of the shown texts: values go in order, a value that itself holds
// braces is taken as it is, not filled again, and names without a value stay as written.
TEST(ShownTexts, FillingReplacesEachNameInOrderWithItsValueAsItIs) {
  EXPECT_EQ(fillText(kLinkNoAnswer, {"phone", "9010", "{x}"}), "no answer from phone:9010 ({x})");
  EXPECT_EQ(fillText(kLinkReconnecting, {}), "reconnecting ({reason})");
  EXPECT_EQ(fillText(kLinkConnected, {"unused"}), "connected");
}

}  // namespace
}  // namespace mirandel::text
