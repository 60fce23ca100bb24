#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "rack/LayoutPlan.h"
#include "rack/RackParser.h"

namespace {

using mirandel::planLayout;
using mirandel::RackEffect;
using mirandel::SlotBinding;
using mirandel::SlotPlan;

RackEffect effectFrom(const std::string& json) {
  const auto reply = mirandel::parseDescribeReply(R"({"effects": [)" + json + "]}");
  EXPECT_TRUE(reply.has_value()) << json;
  return reply && !reply->effects.empty() ? reply->effects[0] : RackEffect{};
}

// Every bound slot as "Slot:target=Display name", where target is the control's
// field or "!" and the action's name, in host parameter order by kind.
std::vector<std::string> describe(const RackEffect& effect, const SlotPlan& plan) {
  std::vector<std::string> out;
  auto add = [&](const std::string& slot, const SlotBinding& b) {
    if (b.control >= 0)
      out.push_back(slot + ":" + effect.controls.at(b.control).field + "=" + b.displayName);
    else if (b.action >= 0)
      out.push_back(slot + ":!" + effect.actions.at(b.action) + "=" + b.displayName);
  };
  add("Hero", plan.sliders[0]);
  for (int j = 0; j < 5; ++j) add("Quick" + std::to_string(j + 1), plan.toggles[j]);
  add("Option1", plan.option);
  for (int s = 1; s < 28; ++s) add("Slot" + std::to_string(s), plan.sliders[s]);
  for (int t = 5; t < 14; ++t) add("Switch" + std::to_string(t - 4), plan.toggles[t]);
  for (int n = 0; n < 4; ++n) add("Action" + std::to_string(n + 1), plan.actions[n]);
  return out;
}

std::vector<std::string> mapEffect(const std::string& json) {
  const RackEffect effect = effectFrom(json);
  return describe(effect, planLayout(effect));
}

using Expected = std::vector<std::string>;

// Each row guards one mapping rule; a regression puts a phone control on the
// wrong host parameter, under the wrong name, or shows what should be hidden.
TEST(LayoutPlan, MapsEachRuleOntoTheRightSlots) {
  const std::tuple<const char*, const char*, Expected> cases[] = {
      {"continuous controls fill the sliders in control order; without a position never shown; "
       "the hero takes its control's label when heroLabel is empty",
       R"({"hero": "h", "params": [{"field": "a", "normalized": 0.1}, {"field": "nopos"},
           {"field": "b", "label": "Bee", "normalized": 0.2},
           {"field": "h", "label": "H", "normalized": 0}]})",
       {"Hero:h=H", "Slot1:a=a", "Slot2:b=Bee"}},
      {"hero with its own label, skipped when the layout names it again",
       R"({"hero": "gain", "heroLabel": "Main",
           "params": [{"field": "hue", "normalized": 0}, {"field": "gain", "normalized": 0}],
           "layout": [{"section": "Tune", "fields": ["gain", "hue"]}]})",
       {"Hero:gain=Main", "Slot1:hue=hue"}},
      {"hero chosen by the mode control's current value",
       R"({"hero": "x", "heroByMode": {"field": "mode", "heroes": {"one": "x", "two": "y"}},
           "params": [{"field": "mode", "type": "option", "value": "two", "options": ["one", "two"]},
                      {"field": "x", "normalized": 0}, {"field": "y", "normalized": 0}]})",
       {"Hero:y=y", "Option1:mode=mode", "Slot1:x=x"}},
      {"a mode without a hero entry keeps the plain hero",
       R"({"hero": "x", "heroByMode": {"field": "mode", "heroes": {"one": "y"}},
           "params": [{"field": "mode", "type": "option", "value": "three"},
                      {"field": "x", "normalized": 0}, {"field": "y", "normalized": 0}]})",
       {"Hero:x=x", "Option1:mode=mode", "Slot1:y=y"}},
      {"a hero without a position stays hidden and is never shown elsewhere",
       R"({"hero": "gain", "params": [{"field": "gain"}, {"field": "hue", "normalized": 0}]})",
       {"Slot1:hue=hue"}},
      {"a hero hidden by its show rule is hidden everywhere; an empty show list hides only while "
       "the controlling option exists",
       R"({"hero": "gain", "when": {"gain": {"mode": ["b"]}, "x": {"mode": []}, "hue": {"no": []}},
           "params": [{"field": "gain", "normalized": 0}, {"field": "x", "normalized": 0},
                      {"field": "mode", "type": "option", "value": "a"},
                      {"field": "hue", "normalized": 0}]})",
       {"Option1:mode=mode", "Slot1:hue=hue"}},
      {"quick row: bool controls and actions by position, an action before a continuous control "
       "of its name; other fields and hidden ones leave gaps; only five fields count",
       R"({"toggles": [{"slot": 3, "label": "Strobe!"}, {"slot": 1, "label": "Flash"}],
           "when": {"ghost": {"mode": "on"}},
           "params": [{"field": "flash", "type": "bool"}, {"field": "gain", "normalized": 0},
                      {"field": "ghost", "type": "bool"}, {"field": "strobe", "normalized": 0},
                      {"field": "mode", "type": "option", "value": "off"},
                      {"field": "s3", "normalized": 0}, {"field": "s4", "normalized": 0},
                      {"field": "six", "type": "bool"}],
           "actions": ["strobe", "reset"],
           "layout": [{"section": "Quick row",
                       "fields": ["flash", "gain", "strobe", "ghost", "reset", "six"]}]})",
       {"Quick1:flash=Flash", "Quick3:!strobe=Strobe!", "Quick5:!reset=Reset", "Option1:mode=mode",
        "Slot1:gain=gain", "Slot2:strobe=strobe", "Slot3:s3=s3", "Slot4:s4=s4", "Switch2:six=six"}},
      {"the first Quick row counts; every Quick row is left out of the layout; the title must "
       "match exactly",
       R"({"params": [{"field": "b", "normalized": 0}, {"field": "a", "normalized": 0},
                      {"field": "q", "type": "bool"}, {"field": "k", "type": "bool"}],
           "layout": [{"section": "Quick row", "fields": ["q"]},
                      {"section": "Quick row", "fields": ["b"]},
                      {"section": "Main", "fields": ["a"]},
                      {"section": "quick row", "fields": ["k"]}]})",
       {"Quick1:q=q", "Slot1:a=a", "Slot4:b=b", "Switch1:k=k"}},
      {"sections fill the rows in order; unknown names are ignored; of two option controls the "
       "first one placed wins",
       R"({"params": [{"field": "x", "normalized": 0}, {"field": "y", "normalized": 0},
                      {"field": "t", "type": "bool"}, {"field": "look", "type": "option"},
                      {"field": "palette", "type": "option"}],
           "layout": [{"section": "A", "fields": ["missing", "y"]},
                      {"section": "B", "fields": ["t", "x", "y", "palette"]}]})",
       {"Option1:palette=palette", "Slot1:y=y", "Slot4:x=x", "Switch1:t=t"}},
      {"actions: four slots, labels with an upper-cased first ASCII letter",
       R"({"actions": ["jump", "reset", "flip", "zap", "more"],
           "actionLabels": {"reset": "\u00e9lan", "flip": "1st", "zap": "", "jump": "go now"}})",
       {"Action1:!jump=Go now", "Action2:!reset=\u00e9lan", "Action3:!flip=1st", "Action4:!zap="}},
      {"an action named by the layout comes first; hidden actions take no slot",
       R"({"actions": ["a", "b", "c", "d", "e", "f"], "when": {"b": {"mode": []}},
           "params": [{"field": "mode", "type": "option"}],
           "layout": [{"section": "S", "fields": ["e", "e"]}]})",
       {"Option1:mode=mode", "Action1:!e=E", "Action2:!a=A", "Action3:!c=C", "Action4:!d=D"}},
      {"a duplicated field binds its first control; the second is placed as a leftover",
       R"({"params": [{"field": "g", "label": "G1", "normalized": 0.1},
                      {"field": "g", "label": "G2", "normalized": 0.9}],
           "layout": [{"section": "S", "fields": ["g"]}]})",
       {"Slot1:g=G1", "Slot2:g=G2"}},
  };
  for (const auto& [rule, effect, slots] : cases) EXPECT_EQ(mapEffect(effect), slots) << rule;
}

std::string sliders(int count, int from = 1) {
  std::string out;
  for (int i = from; i < from + count; ++i)
    out += (out.empty() ? "" : ",") + std::string(R"({"field": "s)") + std::to_string(i) +
           R"(", "normalized": 0.5})";
  return out;
}

// Guards the slot table's end: past 27 sliders the rest are dropped, not written
// beyond it, and the hero still gets "Hero".
TEST(LayoutPlan, PlacesTwentySevenOfThirtySliders) {
  const RackEffect effect = effectFrom(R"({"hero": "s30", "params": [)" + sliders(31) + "]}");
  Expected expected = {"Hero:s30=s30"};
  for (int s = 1; s <= 27; ++s)
    expected.push_back("Slot" + std::to_string(s) + ":s" + std::to_string(s) + "=s" +
                       std::to_string(s));
  EXPECT_EQ(describe(effect, planLayout(effect)), expected);
}

// Guards the cursor when the search wraps to an earlier gap: moving it back sent
// the next switch to the gap's row instead of after the rows already filled.
TEST(LayoutPlan, WrapsToEarlierGapsWithoutMovingTheCursor) {
  // Switch1..3 first (cursor after Switch3), then 24 sliders: 18 fill
  // Slot10..Slot27, six wrap into Slot1..Slot6; the last bool goes to Switch9.
  const RackEffect effect = effectFrom(R"({"params": [
      {"field": "b1", "type": "bool"}, {"field": "b2", "type": "bool"},
      {"field": "b3", "type": "bool"}, )" +
                                       sliders(24) + R"(, {"field": "b4", "type": "bool"}]})");
  const SlotPlan plan = planLayout(effect);
  auto field = [&](const SlotBinding& b) {
    return b.control < 0 ? std::string("-") : effect.controls.at(b.control).field;
  };
  const std::vector<std::string> switches = {"b1", "b2", "b3", "-", "-", "-", "-", "-", "b4"};
  for (int t = 0; t < 9; ++t)
    EXPECT_EQ(field(plan.toggles[5 + t]), switches[t]) << "Switch" << t + 1;
  for (int s = 10; s <= 27; ++s) EXPECT_EQ(field(plan.sliders[s]), "s" + std::to_string(s - 9));
  for (int s = 1; s <= 6; ++s) EXPECT_EQ(field(plan.sliders[s]), "s" + std::to_string(s + 18));
  for (int s = 7; s <= 9; ++s) EXPECT_EQ(field(plan.sliders[s]), "-");
}

mirandel::RackControl option(const std::string& field, const std::string& value) {
  mirandel::RackControl c;
  c.field = field;
  c.type = "option";
  c.optionValue = value;
  c.optionList = {"a", "b", value};
  return c;
}

// Guards against a wrong show rule hiding a needed control or showing a dead
// one. (Unlisted values and empty lists show in the layout cases.)
TEST(ShowRules, FollowTheControllingOptionsCurrentValue) {
  // The controls, the values the rule for "gain" lists, whether "gain" is shown.
  const std::tuple<const char*, std::vector<mirandel::RackControl>, std::vector<std::string>, bool>
      cases[] = {
          {"value listed", {option("mode", "b")}, {"a", "b"}, true},
          {"comparison is exact", {option("mode", "B")}, {"b"}, false},
          {"no controlling control", {option("other", "z")}, {"a"}, true},
          {"first control with the field decides",
           {option("mode", "a"), option("mode", "x")},
           {"a"},
           true},
          {"later duplicate ignored", {option("mode", "x"), option("mode", "a")}, {"a"}, false},
      };
  for (const auto& [what, controls, values, shown] : cases) {
    RackEffect effect;
    effect.controls = controls;
    effect.showConditions["gain"] = mirandel::ShowCondition{"mode", values};
    EXPECT_EQ(mirandel::isShown(effect, "gain"), shown) << what;
    EXPECT_TRUE(mirandel::isShown(effect, "other")) << what << ": a name without a rule is shown";
  }
}

}  // namespace
