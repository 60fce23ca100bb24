#include <gtest/gtest.h>

#include <string>

#include "base/Rounding.h"
#include "clip/TextBuffer.h"

namespace {

// A phone name cut inside a multi-byte character shows as garbage in the
// host; the cut must fall before the whole character.
TEST(Utf8Truncation, NeverSplitsACharacter) {
  struct Case {
    std::string text;
    std::size_t limit;
    std::size_t expected;
  } cases[] = {
      {"abc", 10, 3},
      {"abc", 2, 2},
      {"Searching\xE2\x80\xA6", 12, 12},  // whole ellipsis fits exactly
      {"Searching\xE2\x80\xA6", 11, 9},   // would split it: drop it whole
      {"Searching\xE2\x80\xA6", 10, 9},
      {"\xC2\xB7x", 1, 0},
      {"a\xF0\x9F\x8E\xA5", 4, 1},  // four-byte emoji
      {"a\xF0\x9F\x8E\xA5", 5, 5},
      {"", 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(mirandel::utf8PrefixLength(c.text, c.limit), c.expected) << c.text << " " << c.limit;
}

// Converting NaN or a huge float to int is undefined behaviour; such host or
// phone values must be refused instead.
TEST(Rounding, UnusableNumbersHaveNoIndex) {
  EXPECT_EQ(mirandel::roundToIndex(-0.4f), 0);
  EXPECT_EQ(mirandel::roundToIndex(-1.6f), -1);
  EXPECT_FALSE(mirandel::roundToIndex(std::nanf("")));
  EXPECT_FALSE(mirandel::roundToIndex(INFINITY));
  EXPECT_FALSE(mirandel::roundToIndex(-INFINITY));
  EXPECT_FALSE(mirandel::roundToIndex(3e9f));
  EXPECT_EQ(mirandel::truncateToInt(-2147483648.0), -2147483647 - 1);
  EXPECT_FALSE(mirandel::truncateToInt(2147483648.0));
}

}  // namespace
