#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rack/RackModel.h"

namespace {

using mirandel::isShown;
using mirandel::RackControl;
using mirandel::RackEffect;
using mirandel::ShowCondition;

RackControl option(const std::string& field, const std::string& value) {
  RackControl c;
  c.field = field;
  c.type = "option";
  c.optionValue = value;
  c.optionList = {"a", "b", value};
  return c;
}

// A wrong show rule hides a control the user needs, or shows one that does
// nothing in the phone's current mode.
TEST(ShowRules, FollowTheControllingOptionsCurrentValue) {
  struct Case {
    const char* what;
    std::vector<RackControl> controls;
    std::vector<std::string> values;
    bool shown;
  } cases[] = {
      {"value listed", {option("mode", "b")}, {"a", "b"}, true},
      {"value not listed", {option("mode", "c")}, {"a", "b"}, false},
      {"comparison is exact", {option("mode", "B")}, {"b"}, false},
      {"empty list hides", {option("mode", "a")}, {}, false},
      {"no controlling control", {option("other", "z")}, {"a"}, true},
      {"empty list without control", {}, {}, true},
      {"first control with the field decides",
       {option("mode", "a"), option("mode", "x")},
       {"a"},
       true},
      {"later duplicate ignored", {option("mode", "x"), option("mode", "a")}, {"a"}, false},
  };
  for (const Case& c : cases) {
    RackEffect effect;
    effect.controls = c.controls;
    effect.showConditions["gain"] = ShowCondition{"mode", c.values};
    EXPECT_EQ(isShown(effect, "gain"), c.shown) << c.what;
    EXPECT_TRUE(isShown(effect, "other")) << c.what << ": a name without a rule is shown";
  }
}

}  // namespace
