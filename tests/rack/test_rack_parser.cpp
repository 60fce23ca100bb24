#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rack/RackParser.h"

namespace {

using mirandel::DescribeReply;
using mirandel::parseDescribeReply;
using mirandel::RackEffect;

// Parses a reply holding exactly one effect given as JSON.
RackEffect oneEffect(const std::string& effectJson) {
  const auto reply = parseDescribeReply(R"({"effects":[)" + effectJson + "]}");
  EXPECT_TRUE(reply.has_value()) << effectJson;
  EXPECT_EQ(reply ? reply->effects.size() : 0u, 1u) << effectJson;
  return reply && !reply->effects.empty() ? reply->effects[0] : RackEffect{};
}

// A reply the parser misreads either installs garbage in the host or, worse,
// lets an exception escape into the host. A fault anywhere, even in the last
// top-level key, must reject the whole reply: the clip installs none of it.
TEST(DescribeReplyParsing, RejectsEveryBadReplyAsAWhole) {
  struct Case {
    const char* text;
    bool readable;
  } cases[] = {
      // Unreadable text.
      {"", false},
      {"   ", false},
      {R"({"effects": [})", false},
      {R"({"effects": []} trailing)", false},
      {R"({/* no comments */ "effects": []})", false},
      {"{\"effects\": []} // nor these", false},
      {R"({"name": "bad \u00)", false},
      {"{\"name\": \"\xC3\x28\"}", false},  // invalid UTF-8
      {R"({"active": 1e999})", false},      // number overflow
      // Not an object where one is required.
      {"[]", false},
      {R"("rack")", false},
      {"null", false},
      {"42", false},
      {R"({"effects": [1]})", false},
      {R"({"effects": [{}, "fx"]})", false},
      {R"({"effects": "fx"})", false},
      {R"({"effects": true})", false},
      {R"({"effects": [{"params": [3]}]})", false},
      {R"({"effects": [{"params": "gain"}]})", false},
      {R"({"effects": [{"toggles": [1]}]})", false},
      {R"({"effects": [{"layout": ["Main"]}]})", false},
      // Effect keys of the wrong type.
      {R"({"effects": [{"index": "3"}]})", false},
      {R"({"effects": [{"index": true}]})", false},
      {R"({"effects": [{"index": null}]})", false},
      {R"({"effects": [{"name": 7}]})", false},
      {R"({"effects": [{"address": ["a"]}]})", false},
      {R"({"effects": [{"actions": ["go", 2]}]})", false},
      {R"({"effects": [{"actions": 2}]})", false},
      {R"({"effects": [{"actions": [null]}]})", false},
      {R"({"effects": [{"toggles": [{"slot": "1"}]}]})", false},
      {R"({"effects": [{"toggles": [{"slot": 1, "label": 1}]}]})", false},
      {R"({"effects": [{"heroByMode": {"field": 1}}]})", false},
      {R"({"effects": [{"layout": [{"section": 1}]}]})", false},
      // Control keys of the wrong type.
      {R"({"effects": [{"params": [{"field": 1}]}]})", false},
      {R"({"effects": [{"params": [{"field": "a", "label": null}]}]})", false},
      {R"({"effects": [{"params": [{"type": 0}]}]})", false},
      {R"({"effects": [{"params": [{"normalized": "0.5"}]}]})", false},
      {R"({"effects": [{"params": [{"normalized": null}]}]})", false},
      {R"({"effects": [{"params": [{"normalized": false}]}]})", false},
      {R"({"effects": [{"params": [{"type": "bool", "value": 1}]}]})", false},
      {R"({"effects": [{"params": [{"type": "option", "value": 0}]}]})", false},
      {R"({"effects": [{"params": [{"type": "option", "options": ["a", 1]}]}]})", false},
      {R"({"effects": [{"params": [{"type": "option", "options": 1}]}]})", false},
      // Complete effects, then a bad top-level key.
      {R"({"effects": [{"params": []}], "name": 5})", false},
      {R"({"effects": [{}], "name": null})", false},
      {R"({"effects": [{}], "version": 1.2})", false},
      {R"({"effects": [{}], "version": true})", false},
      {R"({"effects": [{}], "name": "Cam", "version": "2", "active": "0"})", false},
      {R"({"effects": [{}], "active": true})", false},
      {R"({"effects": [{}], "active": null})", false},
      {R"({"effects": [{}], "active": [0]})", false},
      // Wrong types that are skipped or read as their default.
      {R"({"effects": [{"hero": 5, "heroLabel": ["x"]}]})", true},
      {R"({"effects": [{"when": 3, "heroByMode": [], "actionLabels": "x"}]})", true},
      {R"({"effects": [{"heroByMode": {"heroes": 3}}]})", true},
      {R"({"effects": [{"layout": [{"fields": [1, null, "a"]}]}]})", true},
      {R"({"effects": [{"params": [{"type": "float", "value": "x", "options": 1}]}]})", true},
      {R"({"effects": [{"params": [{"type": "bool", "value": true, "options": [1]}]}]})", true},
      {R"({"effects": null, "extra": {"anything": [1, 2]}})", true},
      {"{}", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseDescribeReply(c.text).has_value(), c.readable) << c.text;
}

// Missing keys must take their defaults; a wrong default shows a control
// under the wrong name or on a slider with no position.
TEST(DescribeReplyParsing, FillsDefaultsForMissingKeys) {
  const auto reply = parseDescribeReply(R"({"effects": [{"params": [{"field": "gain"}]}]})");
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->name, "Mirandel");
  EXPECT_EQ(reply->version, "");
  EXPECT_FALSE(reply->active.has_value());
  const RackEffect& effect = reply->effects.at(0);
  EXPECT_EQ(effect.index, 0);
  EXPECT_EQ(effect.name, "");
  EXPECT_EQ(effect.address, "");
  EXPECT_TRUE(effect.controlsLoaded);
  const auto& control = effect.controls.at(0);
  EXPECT_EQ(control.label, "gain");
  EXPECT_EQ(control.type, "float");
  EXPECT_FALSE(control.hasNormalized);
  EXPECT_EQ(control.normalized, 0.0);

  const RackEffect loading = oneEffect(R"({"name": "Glow", "address": "glow"})");
  EXPECT_FALSE(loading.controlsLoaded);
  EXPECT_TRUE(loading.controls.empty());
}

// Every key lands in its own field; a swapped or dropped key maps the wrong
// control or sends commands to the wrong address.
TEST(DescribeReplyParsing, ReadsAFullEffect) {
  const RackEffect e = oneEffect(R"({
    "index": 4, "name": "Glow", "address": "fx/glow", "hero": "amount", "heroLabel": "Glow",
    "params": [
      {"field": "amount", "label": "Amount", "normalized": 0.25},
      {"field": "flash", "type": "bool", "value": true},
      {"field": "mode", "type": "option", "value": "soft", "options": ["hard", "soft"]},
      {"field": "hue", "type": "angle", "normalized": 1}
    ],
    "actions": ["reset", "jump"],
    "toggles": [{"slot": 2, "label": "Flash"}],
    "heroByMode": {"field": "mode", "heroes": {"soft": "amount", "hard": "hue", "x": 1}},
    "actionLabels": {"reset": "Reset all", "jump": false},
    "layout": [{"section": "Quick row", "fields": ["flash", "jump"]}, {"fields": ["hue"]}]
  })");
  EXPECT_EQ(e.index, 4);
  EXPECT_EQ(e.name, "Glow");
  EXPECT_EQ(e.address, "fx/glow");
  EXPECT_EQ(e.hero, "amount");
  EXPECT_EQ(e.heroLabel, "Glow");
  ASSERT_EQ(e.controls.size(), 4u);
  EXPECT_EQ(e.controls[0].label, "Amount");
  EXPECT_TRUE(e.controls[0].hasNormalized);
  EXPECT_EQ(e.controls[0].normalized, 0.25);
  EXPECT_TRUE(e.controls[1].boolValue);
  EXPECT_EQ(e.controls[2].optionValue, "soft");
  EXPECT_EQ(e.controls[2].optionList, (std::vector<std::string>{"hard", "soft"}));
  EXPECT_EQ(e.controls[3].type, "angle");
  EXPECT_EQ(e.controls[3].normalized, 1.0);
  EXPECT_EQ(e.actions, (std::vector<std::string>{"reset", "jump"}));
  EXPECT_EQ(e.toggleLabels[2], "Flash");
  EXPECT_EQ(e.heroModeField, "mode");
  EXPECT_EQ(e.heroesByMode,
            (std::map<std::string, std::string>{{"hard", "hue"}, {"soft", "amount"}}));
  EXPECT_EQ(e.actionLabels, (std::map<std::string, std::string>{{"reset", "Reset all"}}));
  ASSERT_EQ(e.layout.size(), 2u);
  EXPECT_EQ(e.layout[0].title, "Quick row");
  EXPECT_EQ(e.layout[0].fields, (std::vector<std::string>{"flash", "jump"}));
  EXPECT_EQ(e.layout[1].title, "");
}

// "params" present in any form means the phone has sent the controls; taking
// null as "loading" would re-request the effect forever.
TEST(DescribeReplyParsing, AnyParamsKeyMeansControlsLoaded) {
  for (const char* params : {"null", "[]", "{}"}) {
    const RackEffect e = oneEffect(std::string(R"({"params": )") + params + "}");
    EXPECT_TRUE(e.controlsLoaded) << params;
    EXPECT_TRUE(e.controls.empty()) << params;
  }
}

// Arrays are read the way the JSON library iterates: an object gives its
// member values in key order, a lone value is one element, null is none.
TEST(DescribeReplyParsing, ReadsListsWithTheLibrarysIteration) {
  const auto reply =
      parseDescribeReply(R"({"effects": {"b": {"name": "Second"}, "a": {"name": "First"}}})");
  ASSERT_TRUE(reply.has_value());
  ASSERT_EQ(reply->effects.size(), 2u);
  EXPECT_EQ(reply->effects[0].name, "First");
  EXPECT_EQ(reply->effects[1].name, "Second");

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
  ASSERT_EQ(single.layout.size(), 1u);
  EXPECT_EQ(single.layout[0].fields, std::vector<std::string>{"only"});
  // A bare toggle object iterates as its member values, which are not objects.
  EXPECT_FALSE(parseDescribeReply(R"({"effects": [{"toggles": {"slot": 3}}]})").has_value());

  const RackEffect nulls =
      oneEffect(R"({"actions": null, "toggles": null, "layout": [{"fields": null}]})");
  EXPECT_TRUE(nulls.actions.empty());
  ASSERT_EQ(nulls.layout.size(), 1u);
  EXPECT_TRUE(nulls.layout[0].fields.empty());
}

// Toggle labels only exist for positions 1..5. A slot number beyond the int
// range must be ignored, not wrapped by a cast onto a valid position.
TEST(DescribeReplyParsing, TakesToggleLabelsOnlyForSlotsOneToFive) {
  const RackEffect e = oneEffect(R"({"toggles": [
    {"slot": 0, "label": "zero"}, {"slot": 6, "label": "six"}, {"slot": -1, "label": "minus"},
    {"slot": 5, "label": "five"}, {"slot": 1, "label": "first"}, {"slot": 1, "label": "one"},
    {"slot": 2.9, "label": "two"}, {"label": "no slot"},
    {"slot": 4294967299, "label": "wrapped"}, {"slot": -4294967293, "label": "wrapped"},
    {"slot": 1e300, "label": "huge"}, {"slot": 18446744073709551615, "label": "max"}
  ]})");
  const std::array<std::string, 6> expected = {"", "one", "two", "", "", "five"};
  EXPECT_EQ(e.toggleLabels, expected);
}

// "index" and "active" come from the phone; a fractional or huge number must
// have a defined result (a plain cast of 1e10 to int is undefined).
TEST(DescribeReplyParsing, ConvertsIndexAndActiveWithoutOverflow) {
  struct Case {
    const char* number;
    std::int32_t index;
    std::int64_t active;
  } cases[] = {
      {"3", 3, 3},
      {"-2", -2, -2},
      {"3.9", 3, 3},
      {"-2.5", -2, -2},
      {"2147483647", 2147483647, 2147483647},
      {"-2147483648", -2147483647 - 1, -2147483647 - 1},
      {"2147483648", 0, -1},
      {"-2147483649", 0, -1},
      {"4294967296", 0, -1},
      {"18446744073709551615", 0, -1},
      {"1e10", 0, -1},
      {"-1e300", 0, -1},
  };
  for (const Case& c : cases) {
    const auto reply = parseDescribeReply(std::string(R"({"effects": [{"index": )") + c.number +
                                          "}], \"active\": " + c.number + "}");
    ASSERT_TRUE(reply.has_value()) << c.number;
    EXPECT_EQ(reply->effects.at(0).index, c.index) << c.number;
    EXPECT_EQ(reply->active, c.active) << c.number;
  }
}

// Only the first condition member counts, in the library's sorted key order;
// any value form other than a string list must not hide by accident.
TEST(DescribeReplyParsing, ReadsShowConditions) {
  struct Case {
    const char* when;
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> expected;
  } cases[] = {
      {R"({"gain": {"mode": ["a", 1, "b"]}})", {{"gain", {"mode", {"a", "b"}}}}},
      {R"({"gain": {"mode": {"y": "b", "x": "a", "z": 2}}})", {{"gain", {"mode", {"a", "b"}}}}},
      {R"({"gain": {"mode": "a"}})", {{"gain", {"mode", {"a"}}}}},
      {R"({"gain": {"mode": 3}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"mode": null}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"mode": []}})", {{"gain", {"mode", {}}}}},
      {R"({"gain": {"zeta": ["z"], "alpha": ["a"]}})", {{"gain", {"alpha", {"a"}}}}},
      {R"({"gain": {}, "hue": [], "jump": "mode", "go": {"mode": "x"}})",
       {{"go", {"mode", {"x"}}}}},
      {R"([{"gain": {"mode": "a"}}])", {}},
  };
  for (const Case& c : cases) {
    const RackEffect e = oneEffect(std::string(R"({"when": )") + c.when + "}");
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> got;
    for (const auto& [name, condition] : e.showConditions)
      got[name] = {condition.controlField, condition.values};
    EXPECT_EQ(got, c.expected) << c.when;
  }
}

}  // namespace
