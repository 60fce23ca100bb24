// The phone's rack: its description read, merged, indexed and laid out on slots.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "rack/LayoutPlan.h"
#include "rack/RackIndex.h"
#include "rack/RackMerge.h"
#include "rack/RackParser.h"

namespace mirandel::test {
namespace {

std::vector<RackEffect> effectsOf(const std::string& json) {
  const auto reply = parseDescribeReply(json);
  EXPECT_TRUE(reply.has_value()) << json;
  return reply ? reply->effects : std::vector<RackEffect>{};
}

// Parses a reply holding exactly one effect given as JSON.
RackEffect oneEffect(const std::string& effectJson) {
  const auto effects = effectsOf(R"({"effects":[)" + effectJson + "]}");
  EXPECT_EQ(effects.size(), 1u) << effectJson;
  return effects.empty() ? RackEffect{} : effects[0];
}

// "name:address" of each effect, in list order.
std::vector<std::string> namesOf(const std::vector<RackEffect>& effects) {
  std::vector<std::string> out;
  for (const RackEffect& e : effects) out.push_back(e.name + ":" + e.address);
  return out;
}

// Guards against a misread reply installing garbage or throwing into the host:
// a fault anywhere, even in the last top-level key, rejects the whole reply.
TEST(DescribeReplyParsing, RejectsEveryBadReplyAsAWhole) {
  const char* const unreadable[] = {
      // Unreadable text.
      "",
      R"({"effects": [})",
      R"({"effects": []} trailing)",
      R"({/* no comments */ "effects": []})",
      "{\"name\": \"\xC3\x28\"}",  // invalid UTF-8
      // Not an object where one is required.
      "[]",
      R"({"effects": "fx"})",
      R"({"effects": [{"params": "gain"}]})",
      R"({"effects": [{"toggles": [1]}]})",
      R"({"effects": [{"layout": ["Main"]}]})",
      // Effect keys of the wrong type.
      R"({"effects": [{"index": true}]})",
      R"({"effects": [{"index": null}]})",
      R"({"effects": [{"name": 7}]})",
      R"({"effects": [{"address": ["a"]}]})",
      R"({"effects": [{"actions": ["go", 2]}]})",
      R"({"effects": [{"toggles": [{"slot": "1"}]}]})",
      R"({"effects": [{"toggles": [{"slot": 1, "label": 1}]}]})",
      R"({"effects": [{"heroByMode": {"field": 1}}]})",
      R"({"effects": [{"layout": [{"section": 1}]}]})",
      // Control keys of the wrong type.
      R"({"effects": [{"params": [{"field": 1}]}]})",
      R"({"effects": [{"params": [{"field": "a", "label": null}]}]})",
      R"({"effects": [{"params": [{"type": 0}]}]})",
      R"({"effects": [{"params": [{"normalized": null}]}]})",
      R"({"effects": [{"params": [{"normalized": false}]}]})",
      R"({"effects": [{"params": [{"type": "bool", "value": 1}]}]})",
      R"({"effects": [{"params": [{"type": "option", "value": 0}]}]})",
      R"({"effects": [{"params": [{"type": "option", "options": ["a", 1]}]}]})",
      // Complete effects, then a bad top-level key.
      R"({"effects": [{"params": []}], "name": 5})",
      R"({"effects": [{}], "version": true})",
      R"({"effects": [{}], "name": "Cam", "version": "2", "active": "0"})",
      R"({"effects": [{}], "active": true})",
  };
  for (const char* text : unreadable) EXPECT_FALSE(parseDescribeReply(text).has_value()) << text;
  // Wrong types that are skipped or read as their default.
  const char* const readable[] = {
      R"({"effects": [{"hero": 5, "heroLabel": ["x"]}]})",
      R"({"effects": [{"when": 3, "heroByMode": [], "actionLabels": "x"}]})",
      R"({"effects": [{"heroByMode": {"heroes": 3}}]})",
      R"({"effects": [{"layout": [{"fields": [1, null, "a"]}]}]})",
      R"({"effects": [{"params": [{"type": "float", "value": "x", "options": 1}]}]})",
      R"({"effects": [{"params": [{"type": "bool", "value": true, "options": [1]}]}]})",
      R"({"effects": null, "extra": {"anything": [1, 2]}})",
      "{}"};
  for (const char* text : readable) EXPECT_TRUE(parseDescribeReply(text).has_value()) << text;
}

// Guards the defaults of missing keys; "params" in any form means the controls
// were sent (taking null as "loading" re-requested the effect forever). And
// against a swapped or dropped key mapping the wrong control or sending to the
// wrong address. (More keys show in the layout cases.)
TEST(DescribeReplyParsing, FillsDefaultsForMissingKeysAndReadsAFullEffect) {
  const auto reply = parseDescribeReply(
      R"({"effects": [{"params": []}, {"name": "Glow"}, {"params": null}, {"params": {}}]})");
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(std::tie(reply->name, reply->version, reply->active),
            std::tuple("Mirandel", "", std::nullopt));
  // The second is named, its controls still loading.
  EXPECT_EQ(reply->effects, (std::vector<RackEffect>{{.controlsLoaded = true},
                                                     {.name = "Glow"},
                                                     {.controlsLoaded = true},
                                                     {.controlsLoaded = true}}));

  const RackEffect e = oneEffect(R"({
    "index": 4, "name": "Glow", "address": "fx/glow",
    "params": [
      {"field": "amount", "normalized": 0.25},
      {"field": "flash", "type": "bool", "value": true},
      {"field": "mode", "type": "option", "value": "soft", "options": ["hard", "soft"]},
      {"field": "hue", "type": "angle", "normalized": 1}
    ],
    "heroByMode": {"field": "mode", "heroes": {"soft": "amount", "hard": "hue", "x": 1}},
    "actionLabels": {"reset": "Reset all", "jump": false}
  })");
  EXPECT_EQ(std::tie(e.index, e.name, e.address), std::tuple(4, "Glow", "fx/glow"));
  ASSERT_EQ(e.controls.size(), 4u);
  EXPECT_EQ(std::tie(e.controls[0].normalized, e.controls[1].boolValue, e.controls[2].optionValue,
                     e.controls[3].type, e.controls[3].normalized),
            std::tuple(0.25, true, "soft", "angle", 1.0));
  EXPECT_EQ(e.controls[2].optionList, (std::vector<std::string>{"hard", "soft"}));
  EXPECT_EQ(e.heroesByMode,
            (std::map<std::string, std::string>{{"hard", "hue"}, {"soft", "amount"}}));
  EXPECT_EQ(e.actionLabels, (std::map<std::string, std::string>{{"reset", "Reset all"}}));
}

// Arrays are read the way the JSON library iterates: an object gives its
// member values in key order, a lone value is one element, null is none.
TEST(DescribeReplyParsing, ReadsListsWithTheLibrarysIteration) {
  EXPECT_EQ(namesOf(effectsOf(R"({"effects": {"b": {"name": "Second"}, "a": {"name": "First"}}})")),
            (std::vector<std::string>{"First:", "Second:"}));

  const RackEffect single = oneEffect(R"({
    "params": {"z": {"field": "last"}, "m": {"field": "first", "type": "option",
               "options": {"2": "two", "1": "one"}}},
    "actions": "jump",
    "toggles": {"t": {"slot": 3, "label": "keyed"}},
    "layout": {"s": {"section": "Solo", "fields": "only"}}
  })");
  ASSERT_EQ(single.controls.size(), 2u);
  EXPECT_EQ(single.controls[0].field, "first");
  EXPECT_EQ(single.controls[0].optionList, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(single.actions, std::vector<std::string>{"jump"});
  EXPECT_EQ(single.toggleLabels[3], "keyed");
  EXPECT_EQ(single.layout, (std::vector<LayoutSection>{{"Solo", {"only"}}}));
  // A bare toggle object iterates as its member values, which are not objects.
  EXPECT_FALSE(parseDescribeReply(R"({"effects": [{"toggles": {"slot": 3}}]})").has_value());

  EXPECT_EQ(oneEffect(R"({"actions": null, "toggles": null, "layout": [{"fields": null}]})"),
            RackEffect{.layout = std::vector<LayoutSection>(1)});
}

// Toggle labels only exist for positions 1..5. A slot number beyond the int
// range must be ignored, not wrapped by a cast onto a valid position. "index" and
// "active" come from the phone too; a fractional or huge number must have a
// defined result (a plain cast of 1e10 to int is undefined).
TEST(DescribeReplyParsing, TakesToggleSlotsIndexesAndActiveOnlyWithinRangeWithoutOverflow) {
  const RackEffect e = oneEffect(R"({"toggles": [
    {"slot": 0, "label": "zero"}, {"slot": 6, "label": "six"}, {"slot": -1, "label": "minus"},
    {"slot": 5, "label": "five"}, {"slot": 1, "label": "first"}, {"slot": 1, "label": "one"},
    {"slot": 2.9, "label": "two"}, {"label": "no slot"},
    {"slot": 4294967299, "label": "wrapped"}, {"slot": -4294967293, "label": "wrapped"},
    {"slot": 1e300, "label": "huge"}, {"slot": 18446744073709551615, "label": "max"}
  ]})");
  EXPECT_EQ(e.toggleLabels, (std::array<std::string, 6>{"", "one", "two", "", "", "five"}));

  const std::tuple<const char*, std::int32_t, std::int64_t> cases[] = {
      {"3.9", 3, 3},
      {"-2.5", -2, -2},
      {"2147483647", 2147483647, 2147483647},
      {"-2147483648", -2147483647 - 1, -2147483647 - 1},
      {"2147483648", 0, -1},
      {"-2147483649", 0, -1},
      {"4294967296", 0, -1},
      {"18446744073709551615", 0, -1},
      {"1e10", 0, -1},
      {"-1e300", 0, -1}};
  for (const auto& [number, index, active] : cases) {
    const auto reply = parseDescribeReply(std::string(R"({"effects": [{"index": )") + number +
                                          "}], \"active\": " + number + "}");
    ASSERT_TRUE(reply.has_value()) << number;
    EXPECT_EQ(reply->effects.at(0).index, index) << number;
    EXPECT_EQ(reply->active, active) << number;
  }
}

// Only the first condition member counts, in the library's sorted key order;
// any value form other than a string list must not hide by accident.
TEST(DescribeReplyParsing, ReadsShowConditions) {
  const std::pair<const char*, std::map<std::string, ShowCondition>> cases[] = {
      {R"({"gain": {"mode": ["a", 1, "b"]}})", {{"gain", {"mode", {"a", "b"}}}}},
      {R"({"gain": {"mode": {"y": "b", "x": "a", "z": 2}}})", {{"gain", {"mode", {"a", "b"}}}}},
      {R"({"gain": {"mode": "a"}})", {{"gain", {"mode", {"a"}}}}},
      {R"({"gain": {"mode": 3}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"mode": null}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"mode": []}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"zeta": ["z"], "alpha": ["a"]}})", {{"gain", {"alpha", {"a"}}}}},
      {R"({"gain": {}, "hue": [], "jump": "mode", "go": {"mode": "x"}})",
       {{"go", {"mode", {"x"}}}}},
      {R"([{"gain": {"mode": "a"}}])", {}}};
  for (const auto& [when, expected] : cases)
    EXPECT_EQ(oneEffect(std::string(R"({"when": )") + when + "}").showConditions, expected) << when;
}

// `n` copies of `item`, comma-separated.
std::string repeated(const std::string& item, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += (i > 0 ? "," : "") + item;
  return s;
}

// Guards against a phone choosing every count (174,745 empty controls took 96 ms
// to install): the most of each over the description is read, one more refused.
TEST(DescribeReplyParsing, RefusesADescriptionBeyondAnyCountOfASaneRack) {
  // What is counted, its bound, a description holding `n` of them over two effects.
  const std::tuple<const char*, std::size_t, std::string (*)(std::size_t n)> cases[] = {
      {"controls", kMaxRackControls,
       [](std::size_t n) {
         return R"({"effects": [{"params": [)" + repeated("{}", n / 2) + R"(]}, {"params": [)" +
                repeated("{}", n - n / 2) + "]}]}";
       }},
      {"options", kMaxRackOptions,
       [](std::size_t n) {
         return R"({"effects": [{"params": [{"type": "option", "options": [)" +
                repeated(R"("a")", n - 1) +
                R"(]}]}, {"params": [{"type": "option", "options": "b"}]}]})";
       }},
      {"actions", kMaxRackActions,
       [](std::size_t n) {
         return R"({"effects": [{"actions": [)" + repeated(R"("go")", n - 1) +
                R"(]}, {"actionLabels": {"go": "Go"}}]})";
       }},
      {"layout fields", kMaxRackLayoutFields,
       [](std::size_t n) {
         // Two sections, a show rule naming one value and a hero by mode, then fields.
         return R"({"effects": [{"layout": [{"fields": [)" + repeated(R"("f")", n - 5) +
                R"(]}, {}], "when": {"f": {"mode": "a"}}}, {"heroByMode": {"heroes": {"a": "f"}}}]})";
       }},
      {"JSON values", kMaxDescriptionValues,
       [](std::size_t n) { return R"({"effects": [], "extra": [)" + repeated("0", n - 3) + "]}"; }},
  };
  for (const auto& [what, bound, description] : cases) {
    EXPECT_TRUE(parseDescribeReply(description(bound)).has_value()) << what;
    EXPECT_FALSE(parseDescribeReply(description(bound + 1)).has_value()) << what;
  }
}

// Guards the merge by a table of positions against the pairwise merge it
// replaced: overwrites, appends and replacements alike.
TEST(RackMerging, OverwritesEveryEntryOfAnAddressAndAppendsEachNewOneOnce) {
  const std::string list = R"({"effects": [{"name": "A1", "address": "a", "params": []},
      {"name": "B", "address": "b", "params": []}, {"name": "A2", "address": "a", "params": []},
      {"name": "C", "address": "c", "params": []}]})";
  const std::pair<const char*, std::vector<std::string>> cases[] = {
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
       {"P:p", "Q:q", "R:r", "S:s"}}};
  for (const auto& [reply, names] : cases) {
    std::vector<RackEffect> merged = effectsOf(list);
    ASSERT_TRUE(updateRack(merged, effectsOf(reply))) << reply;
    EXPECT_EQ(namesOf(merged), names) << reply;
  }
}

// Guards the index against the scan it replaced: the first effect of the address
// with the field, its first such control, and no pair merely joining alike.
TEST(RackIndexing, FindsTheFirstEffectOfTheAddressThatHasTheField) {
  RackIndex index;
  index.rebuild(effectsOf(R"({"effects": [
      {"address": "a", "params": [{"field": "x"}, {"field": "x"}], "heroByMode": {"field": "m"}},
      {"address": "a", "params": [{"field": "y"}, {"field": "m"}], "when": {"y": {"m": "1"}}},
      {"address": "ab", "params": [{"field": "c"}]}]})"));
  // Address, field, then the effect and control found (-1: none).
  const std::tuple<const char*, const char*, std::int32_t, std::int32_t> cases[] = {
      {"a", "x", 0, 0},    {"a", "y", 1, 0},  {"a", "m", 1, 1},  {"ab", "c", 2, 0},
      {"a", "bc", -1, -1}, {"a", "", -1, -1}, {"b", "x", -1, -1}};
  for (const auto& [address, field, effect, control] : cases) {
    const auto found = index.find(address, field).value_or(RackIndex::ControlRef{});
    EXPECT_EQ(std::pair(found.effect, found.control), std::pair(effect, control))
        << address << "/" << field;
  }
  // A mode field chooses the hero or decides what is shown, in its own effect only.
  const std::tuple<int, const char*, bool> modes[] = {
      {0, "m", true}, {1, "m", true}, {1, "y", false}, {2, "m", false}, {3, "m", false}};
  for (const auto& [effect, field, names] : modes)
    EXPECT_EQ(index.namesMode(effect, field), names) << effect << "/" << field;
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

std::string sliders(int count) {
  std::string out;
  for (int i = 1; i <= count; ++i)
    out += (out.empty() ? "" : ",") + std::string(R"({"field": "s)") + std::to_string(i) +
           R"(", "normalized": 0.5})";
  return out;
}

// "Slot" s bound to the slider named "s" n.
std::string slotLine(int s, int n) {
  const std::string field = "s" + std::to_string(n);
  return "Slot" + std::to_string(s) + ":" + field + "=" + field;
}

using Expected = std::vector<std::string>;

// Each row guards one mapping rule; a regression puts a phone control on the
// wrong host parameter, under the wrong name, or shows what should be hidden. The
// last two guard the slot table's end (past 27 sliders the rest are dropped, not
// written beyond it, and the hero still gets "Hero") and the cursor when the
// search wraps to an earlier gap (moving it back sent the next switch to the gap's
// row instead of after the rows already filled). (A mode without a hero entry
// keeping the plain hero shows in the clip's session tests, on Grain's "fine".)
TEST(LayoutPlan, MapsEachRuleOntoTheRightSlots) {
  Expected twentySeven = {"Hero:s30=s30"};
  for (int s = 1; s <= 27; ++s) twentySeven.push_back(slotLine(s, s));
  // Switch1..3 first (cursor after Switch3), then 24 sliders: 18 fill
  // Slot10..Slot27, six wrap into Slot1..Slot6; the last bool goes to Switch9.
  Expected wrapped;
  for (int s = 1; s <= 27; ++s)
    if (s < 7 || s > 9) wrapped.push_back(slotLine(s, s < 7 ? s + 18 : s - 9));
  wrapped.insert(wrapped.end(),
                 {"Switch1:b1=b1", "Switch2:b2=b2", "Switch3:b3=b3", "Switch9:b4=b4"});
  const std::tuple<const char*, std::string, Expected> cases[] = {
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
      {"twenty-seven of thirty sliders placed",
       R"({"hero": "s30", "params": [)" + sliders(31) + "]}", twentySeven},
      {"the cursor stays after the rows filled when the search wraps to earlier gaps",
       R"({"params": [{"field": "b1", "type": "bool"}, {"field": "b2", "type": "bool"},
           {"field": "b3", "type": "bool"}, )" +
           sliders(24) + R"(, {"field": "b4", "type": "bool"}]})",
       wrapped}};
  for (const auto& [rule, json, slots] : cases) {
    const RackEffect effect = oneEffect(json);
    EXPECT_EQ(describe(effect, planLayout(effect)), slots) << rule;
  }
}

RackControl option(const std::string& field, const std::string& value) {
  return {.field = field, .type = "option", .optionValue = value, .optionList = {"a", "b", value}};
}

// Guards against a wrong show rule hiding a needed control or showing a dead
// one. (Unlisted values and empty lists show in the layout cases.)
TEST(ShowRules, FollowTheControllingOptionsCurrentValue) {
  using Values = std::vector<std::string>;
  const std::tuple<const char*, std::vector<RackControl>, Values, bool> cases[] = {
      {"value listed", {option("mode", "b")}, {"a", "b"}, true},
      {"comparison is exact", {option("mode", "B")}, {"b"}, false},
      {"no controlling control", {option("other", "z")}, {"a"}, true},
      {"the first of the field decides", {option("mode", "a"), option("mode", "x")}, {"a"}, true},
      {"later duplicate ignored", {option("mode", "x"), option("mode", "a")}, {"a"}, false}};
  for (const auto& [what, controls, values, shown] : cases) {
    const RackEffect effect{.controls = controls, .showConditions = {{"gain", {"mode", values}}}};
    EXPECT_EQ(isShown(effect, "gain"), shown) << what;
    EXPECT_TRUE(isShown(effect, "other")) << what << ": a name without a rule is shown";
  }
}

}  // namespace
}  // namespace mirandel::test
