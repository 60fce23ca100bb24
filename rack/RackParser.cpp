#include "rack/RackParser.h"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/Rounding.h"

namespace mirandel {
namespace {

using Json = nlohmann::json;

// Raised inside the parser for a value of the wrong JSON type; never leaves it.
struct Unreadable {};

// What the description has asked for so far, counted before each list is
// read: a list that would pass a bound fails the reply before any of it is
// converted. Counts the list's JSON elements, also those skipped, since each
// costs work to look at.
class Budget {
 public:
  void take(std::size_t RackTally::*what, std::size_t count) {
    tally_.*what += count;
    if (!withinBounds(tally_)) throw Unreadable{};
  }

 private:
  RackTally tally_;
};

// The first pass: counts values without keeping any, and stops at the first
// beyond the bound (the parse then fails, as it does on a syntax error).
class ValueCounter final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return count(); }
  bool boolean(bool) override { return count(); }
  bool number_integer(number_integer_t) override { return count(); }
  bool number_unsigned(number_unsigned_t) override { return count(); }
  bool number_float(number_float_t, const string_t&) override { return count(); }
  bool string(string_t&) override { return count(); }
  bool binary(binary_t&) override { return count(); }
  bool start_object(std::size_t) override { return count(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return count(); }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool count() { return ++values_ <= kMaxDescriptionValues; }
  std::size_t values_ = 0;
};

const Json* member(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string stringOr(const Json& object, const char* key, std::string fallback) {
  const Json* value = member(object, key);
  if (value == nullptr) return fallback;
  if (!value->is_string()) throw Unreadable{};
  return value->get<std::string>();
}

// Keys whose wrong type yields the default instead of failing the reply.
std::string stringOrEmpty(const Json& object, const char* key) {
  const Json* value = member(object, key);
  return value != nullptr && value->is_string() ? value->get<std::string>() : std::string();
}

// A JSON number truncated toward zero; nullopt when it lies outside the int
// range (converting such a value would be undefined). Booleans are not numbers.
std::optional<std::int32_t> integerOf(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
      return std::nullopt;
    return static_cast<std::int32_t>(u);
  }
  if (value.is_number_integer()) {
    const auto i = value.get<std::int64_t>();
    if (i < std::numeric_limits<std::int32_t>::min() ||
        i > std::numeric_limits<std::int32_t>::max())
      return std::nullopt;
    return static_cast<std::int32_t>(i);
  }
  if (value.is_number_float()) return truncateToInt(value.get<double>());
  throw Unreadable{};
}

// Strings of an array, the string member values of an object, or a single
// string; anything else contributes nothing.
std::vector<std::string> conditionValues(const Json& value) {
  std::vector<std::string> values;
  if (value.is_array() || value.is_object()) {
    for (const Json& element : value)
      if (element.is_string()) values.push_back(element.get<std::string>());
  } else if (value.is_string()) {
    values.push_back(value.get<std::string>());
  }
  return values;
}

RackControl readControl(const Json& object, Budget& budget) {
  if (!object.is_object()) throw Unreadable{};
  RackControl control;
  control.field = stringOr(object, "field", "");
  control.label = stringOr(object, "label", control.field);
  control.type = stringOr(object, "type", "float");
  if (const Json* normalized = member(object, "normalized")) {
    if (!normalized->is_number()) throw Unreadable{};
    control.hasNormalized = true;
    control.normalized = limitPosition(normalized->get<double>());
  }
  if (control.type == "bool") {
    if (const Json* value = member(object, "value")) {
      if (!value->is_boolean()) throw Unreadable{};
      control.boolValue = value->get<bool>();
    }
  } else if (control.type == "option") {
    control.optionValue = stringOr(object, "value", "");
    // Range-for over a JSON value: an object gives its member values, a
    // single value counts as one element, null as none.
    if (const Json* options = member(object, "options")) {
      budget.take(&RackTally::options, options->size());
      for (const Json& option : *options) {
        if (!option.is_string()) throw Unreadable{};
        control.optionList.push_back(option.get<std::string>());
      }
    }
  }
  return control;
}

void readToggles(const Json& toggles, RackEffect& effect) {
  for (const Json& toggle : toggles) {
    if (!toggle.is_object()) throw Unreadable{};
    std::optional<std::int32_t> slot = 0;
    if (const Json* value = member(toggle, "slot")) slot = integerOf(*value);
    std::string label = stringOr(toggle, "label", "");
    if (slot && *slot >= 1 && *slot <= 5) effect.toggleLabels[*slot] = std::move(label);
  }
}

void readShowConditions(const Json& when, RackEffect& effect, Budget& budget) {
  if (!when.is_object()) return;
  budget.take(&RackTally::layoutFields, when.size());
  for (const auto& [name, condition] : when.items()) {
    if (!condition.is_object() || condition.empty()) continue;
    // The library keeps members sorted by key, so "first" is the smallest key.
    const auto first = condition.begin();
    budget.take(&RackTally::layoutFields, first.value().size());
    effect.showConditions[name] = ShowCondition{first.key(), conditionValues(first.value())};
  }
}

void readHeroByMode(const Json& heroByMode, RackEffect& effect, Budget& budget) {
  if (!heroByMode.is_object()) return;
  effect.heroModeField = stringOr(heroByMode, "field", "");
  const Json* heroes = member(heroByMode, "heroes");
  if (heroes == nullptr || !heroes->is_object()) return;
  budget.take(&RackTally::layoutFields, heroes->size());
  for (const auto& [mode, field] : heroes->items())
    if (field.is_string()) effect.heroesByMode[mode] = field.get<std::string>();
}

void readActionLabels(const Json& labels, RackEffect& effect, Budget& budget) {
  if (!labels.is_object()) return;
  budget.take(&RackTally::actions, labels.size());
  for (const auto& [action, label] : labels.items())
    if (label.is_string()) effect.actionLabels[action] = label.get<std::string>();
}

void readLayout(const Json& layout, RackEffect& effect, Budget& budget) {
  budget.take(&RackTally::layoutFields, layout.size());
  for (const Json& section : layout) {
    if (!section.is_object()) throw Unreadable{};
    LayoutSection out;
    out.title = stringOr(section, "section", "");
    if (const Json* fields = member(section, "fields")) {
      budget.take(&RackTally::layoutFields, fields->size());
      for (const Json& field : *fields)
        if (field.is_string()) out.fields.push_back(field.get<std::string>());
    }
    effect.layout.push_back(std::move(out));
  }
}

RackEffect readEffect(const Json& object, Budget& budget) {
  if (!object.is_object()) throw Unreadable{};
  RackEffect effect;
  const Json* params = member(object, "params");
  // "loading": the phone named the effect but has not sent its controls yet.
  effect.controlsLoaded = params != nullptr;
  if (const Json* index = member(object, "index")) effect.index = integerOf(*index).value_or(0);
  effect.name = stringOr(object, "name", "");
  effect.address = stringOr(object, "address", "");
  effect.hero = stringOrEmpty(object, "hero");
  effect.heroLabel = stringOrEmpty(object, "heroLabel");
  if (params != nullptr) {
    budget.take(&RackTally::controls, params->size());
    for (const Json& control : *params) effect.controls.push_back(readControl(control, budget));
  }
  if (const Json* actions = member(object, "actions")) {
    budget.take(&RackTally::actions, actions->size());
    for (const Json& action : *actions) {
      if (!action.is_string()) throw Unreadable{};
      effect.actions.push_back(action.get<std::string>());
    }
  }
  if (const Json* toggles = member(object, "toggles")) readToggles(*toggles, effect);
  if (const Json* when = member(object, "when")) readShowConditions(*when, effect, budget);
  if (const Json* heroByMode = member(object, "heroByMode"))
    readHeroByMode(*heroByMode, effect, budget);
  if (const Json* labels = member(object, "actionLabels"))
    readActionLabels(*labels, effect, budget);
  if (const Json* layout = member(object, "layout")) readLayout(*layout, effect, budget);
  return effect;
}

}  // namespace

std::optional<DescribeReply> parseDescribeReply(std::string_view text) {
  if (text.size() > kMaxDescriptionBytes) return std::nullopt;
  try {
    // Strict: comments are a syntax error like any other.
    ValueCounter counter;
    if (!Json::sax_parse(text.begin(), text.end(), &counter, nlohmann::json::input_format_t::json,
                         /*strict=*/true, /*ignore_comments=*/false))
      return std::nullopt;
    const Json document = Json::parse(text.begin(), text.end(), nullptr,
                                      /*allow_exceptions=*/true, /*ignore_comments=*/false);
    if (!document.is_object()) return std::nullopt;
    DescribeReply reply;
    if (const Json* effects = member(document, "effects")) {
      Budget budget;
      budget.take(&RackTally::effects, effects->size());
      for (const Json& effect : *effects) reply.effects.push_back(readEffect(effect, budget));
    }
    reply.name = stringOr(document, "name", "Mirandel");
    reply.version = stringOr(document, "version", "");
    if (const Json* active = member(document, "active"))
      reply.active = integerOf(*active).value_or(-1);
    return reply;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace mirandel
