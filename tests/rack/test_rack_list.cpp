#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rack/RackIndex.h"
#include "rack/RackMerge.h"
#include "rack/RackParser.h"

namespace {

using mirandel::RackEffect;
using mirandel::RackIndex;
using mirandel::updateRack;

std::vector<RackEffect> effectsOf(const std::string& json) {
  const auto reply = mirandel::parseDescribeReply(json);
  EXPECT_TRUE(reply.has_value()) << json;
  return reply ? reply->effects : std::vector<RackEffect>{};
}

// "name:address" of each effect, in list order.
std::vector<std::string> namesOf(const std::vector<RackEffect>& effects) {
  std::vector<std::string> out;
  for (const RackEffect& e : effects) out.push_back(e.name + ":" + e.address);
  return out;
}

// Merging by a table of positions instead of comparing every pair: the
// positions must name what the pairwise merge did. Every entry of an address
// is overwritten, a new address is appended once and a later effect of that
// address in the same reply overwrites the appended one; a list at least as
// long, or one naming an effect still loading, replaces.
TEST(RackMerging, OverwritesEveryEntryOfAnAddressAndAppendsEachNewOneOnce) {
  const std::string list = R"({"effects": [{"name": "A1", "address": "a", "params": []},
      {"name": "B", "address": "b", "params": []}, {"name": "A2", "address": "a", "params": []},
      {"name": "C", "address": "c", "params": []}]})";
  const struct {
    const char* reply;
    std::vector<std::string> merged;
  } cases[] = {
      {R"({"effects": [{"name": "A", "address": "a", "params": []}]})",
       {"A:a", "B:b", "A:a", "C:c"}},
      {R"({"effects": [{"name": "D1", "address": "d", "params": []},
           {"name": "D2", "address": "d", "params": []}, {"name": "X", "address": "b",
           "params": []}]})",
       {"A1:a", "X:b", "A2:a", "C:c", "D2:d"}},
      {R"({"effects": [{"name": "L", "address": "b"}]})", {"L:b"}},
      {R"({"effects": [{"name": "P", "address": "p", "params": []}, {"name": "Q", "address": "q",
           "params": []}, {"name": "R", "address": "r", "params": []}, {"name": "S",
           "address": "s", "params": []}]})",
       {"P:p", "Q:q", "R:r", "S:s"}},
  };
  for (const auto& c : cases) {
    std::vector<RackEffect> merged = effectsOf(list);
    ASSERT_TRUE(updateRack(merged, effectsOf(c.reply))) << c.reply;
    EXPECT_EQ(namesOf(merged), c.merged) << c.reply;
  }
}

// Feedback finds its control through the index instead of a scan: it must
// find what the scan found, the first effect of the address that has the
// field and its first such control, also when addresses repeat, and no pair
// whose texts merely join to the same string.
TEST(RackIndexing, FindsTheFirstEffectOfTheAddressThatHasTheField) {
  RackIndex index;
  index.rebuild(effectsOf(R"({"effects": [
      {"address": "a", "params": [{"field": "x"}, {"field": "x"}], "heroByMode": {"field": "m"}},
      {"address": "a", "params": [{"field": "y"}, {"field": "m"}], "when": {"y": {"m": "1"}}},
      {"address": "ab", "params": [{"field": "c"}]}]})"));
  const struct {
    const char* address;
    const char* field;
    std::int32_t effect, control;  // -1: none
  } cases[] = {{"a", "x", 0, 0},    {"a", "y", 1, 0},  {"a", "m", 1, 1},  {"ab", "c", 2, 0},
               {"a", "bc", -1, -1}, {"a", "", -1, -1}, {"b", "x", -1, -1}};
  for (const auto& c : cases) {
    const auto found = index.find(c.address, c.field);
    EXPECT_EQ(found ? found->effect : -1, c.effect) << c.address << "/" << c.field;
    EXPECT_EQ(found ? found->control : -1, c.control) << c.address << "/" << c.field;
  }
  // A mode field chooses the hero or decides what is shown, in its own effect only.
  EXPECT_TRUE(index.namesMode(0, "m"));
  EXPECT_TRUE(index.namesMode(1, "m"));
  EXPECT_FALSE(index.namesMode(1, "y"));
  EXPECT_FALSE(index.namesMode(2, "m"));
  EXPECT_FALSE(index.namesMode(3, "m"));
}

}  // namespace
