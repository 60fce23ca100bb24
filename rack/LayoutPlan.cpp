#include "rack/LayoutPlan.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace mirandel {
namespace {

constexpr std::string_view kQuickRow = "Quick row";

struct TuneEntry {
  SlotKind kind;
  std::int32_t slot;
};

// The tune rows in host parameter order: the option menu, then nine rows of
// three sliders and a switch. Placement walks this so the phone's sections
// fill the host's rows in order.
constexpr std::array<TuneEntry, 37> makeTuneOrder() {
  std::array<TuneEntry, 37> order{};
  order[0] = {SlotKind::Option, 0};
  for (std::int32_t k = 1; k <= 9; ++k) {
    const std::size_t at = static_cast<std::size_t>(4 * k - 3);
    order[at] = {SlotKind::Slider, 3 * k - 2};
    order[at + 1] = {SlotKind::Slider, 3 * k - 1};
    order[at + 2] = {SlotKind::Slider, 3 * k};
    order[at + 3] = {SlotKind::Toggle, 4 + k};
  }
  return order;
}
constexpr std::array<TuneEntry, 37> kTuneOrder = makeTuneOrder();

std::string upperFirst(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

// One planning pass. Lookups by name go through hash maps and the show rules
// are evaluated once, so a hostile effect with many controls and long layouts
// costs linear time rather than quadratic.
class Planner {
 public:
  explicit Planner(const RackEffect& effect)
      : effect_(effect),
        controlUsed_(effect.controls.size(), false),
        actionUsed_(effect.actions.size(), false) {
    for (std::size_t i = 0; i < effect.controls.size(); ++i)
      firstControl_.emplace(effect.controls[i].field, static_cast<std::int32_t>(i));
    for (std::size_t i = 0; i < effect.actions.size(); ++i)
      firstAction_.emplace(effect.actions[i], static_cast<std::int32_t>(i));
    for (const auto& [name, condition] : effect.showConditions) {
      const auto control = controlNamed(condition.controlField);
      if (!control) continue;
      const std::string& current = effect.controls[*control].optionValue;
      if (std::find(condition.values.begin(), condition.values.end(), current) ==
          condition.values.end())
        hidden_.emplace(name);
    }
  }

  SlotPlan run() {
    placeHero();
    placeQuickRow();
    for (const LayoutSection& section : effect_.layout) {
      if (section.title == kQuickRow) continue;
      for (const std::string& name : section.fields) {
        if (const auto control = controlNamed(name)) {
          placeControl(*control);
        } else if (const auto action = actionNamed(name)) {
          placeAction(*action);
        }
      }
    }
    for (std::size_t c = 0; c < effect_.controls.size(); ++c)
      placeControl(static_cast<std::int32_t>(c));
    for (std::size_t a = 0; a < effect_.actions.size(); ++a)
      placeAction(static_cast<std::int32_t>(a));
    return plan_;
  }

 private:
  std::optional<std::int32_t> controlNamed(const std::string& field) const {
    const auto it = firstControl_.find(field);
    return it == firstControl_.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<std::int32_t> actionNamed(const std::string& name) const {
    const auto it = firstAction_.find(name);
    return it == firstAction_.end() ? std::nullopt : std::optional(it->second);
  }
  bool shown(const std::string& name) const { return hidden_.find(name) == hidden_.end(); }
  const RackControl& control(std::int32_t c) const {
    return effect_.controls[static_cast<std::size_t>(c)];
  }

  void placeHero() {
    std::string heroField = effect_.hero;
    if (!effect_.heroModeField.empty()) {
      if (const auto mode = controlNamed(effect_.heroModeField)) {
        const auto hero = effect_.heroesByMode.find(control(*mode).optionValue);
        if (hero != effect_.heroesByMode.end()) heroField = hero->second;
      }
    }
    const auto c = controlNamed(heroField);
    if (!c || !control(*c).hasNormalized || !shown(heroField)) return;
    plan_.sliders[0] = {*c, -1, effect_.heroLabel.empty() ? control(*c).label : effect_.heroLabel};
    controlUsed_[static_cast<std::size_t>(*c)] = true;
  }

  // Quick positions follow field positions: a field that is hidden or names
  // neither a bool control nor an action leaves its toggle empty.
  void placeQuickRow() {
    const auto section = std::find_if(effect_.layout.begin(), effect_.layout.end(),
                                      [](const LayoutSection& s) { return s.title == kQuickRow; });
    if (section == effect_.layout.end()) return;
    const std::size_t count =
        std::min(static_cast<std::size_t>(kQuickToggles), section->fields.size());
    for (std::size_t j = 0; j < count; ++j) {
      const std::string& name = section->fields[j];
      if (!shown(name)) continue;
      const std::string& label = effect_.toggleLabels[j + 1];
      const auto c = controlNamed(name);
      if (c && control(*c).type == "bool") {
        plan_.toggles[j] = {*c, -1, label.empty() ? control(*c).label : label};
        controlUsed_[static_cast<std::size_t>(*c)] = true;
      } else if (const auto a = actionNamed(name)) {
        plan_.toggles[j] = {-1, *a, label.empty() ? upperFirst(name) : label};
        actionUsed_[static_cast<std::size_t>(*a)] = true;
      }
    }
  }

  void placeControl(std::int32_t c) {
    if (controlUsed_[static_cast<std::size_t>(c)]) return;
    controlUsed_[static_cast<std::size_t>(c)] = true;
    const RackControl& rc = control(c);
    if (!shown(rc.field)) return;
    const SlotKind kind = rc.type == "bool"     ? SlotKind::Toggle
                          : rc.type == "option" ? SlotKind::Option
                                                : SlotKind::Slider;
    // A continuous control without a position has nothing to put on a slider.
    if (kind == SlotKind::Slider && !rc.hasNormalized) return;
    if (SlotBinding* slot = freeSlot(kind)) *slot = {c, -1, rc.label};
  }

  void placeAction(std::int32_t a) {
    if (actionUsed_[static_cast<std::size_t>(a)]) return;
    actionUsed_[static_cast<std::size_t>(a)] = true;
    const std::string& name = effect_.actions[static_cast<std::size_t>(a)];
    if (actionsBound_ >= static_cast<std::size_t>(kActionSlots) || !shown(name)) return;
    const auto label = effect_.actionLabels.find(name);
    plan_.actions[actionsBound_++] = {
        -1, a, upperFirst(label == effect_.actionLabels.end() ? name : label->second)};
  }

  SlotBinding& slotOf(const TuneEntry& entry) {
    const auto s = static_cast<std::size_t>(entry.slot);
    switch (entry.kind) {
      case SlotKind::Slider:
        return plan_.sliders[s];
      case SlotKind::Toggle:
        return plan_.toggles[s];
      default:
        return plan_.option;
    }
  }

  // The first free slot of `kind` at or after the cursor, moving the cursor
  // past it; failing that, the first free one before the cursor, leaving the
  // cursor where it is, so earlier gaps fill only once the later rows are full.
  SlotBinding* freeSlot(SlotKind kind) {
    for (std::size_t i = cursor_; i < kTuneOrder.size(); ++i) {
      if (kTuneOrder[i].kind != kind || slotOf(kTuneOrder[i]).bound()) continue;
      cursor_ = i + 1;
      return &slotOf(kTuneOrder[i]);
    }
    for (std::size_t i = 0; i < cursor_; ++i) {
      if (kTuneOrder[i].kind == kind && !slotOf(kTuneOrder[i]).bound())
        return &slotOf(kTuneOrder[i]);
    }
    return nullptr;
  }

  const RackEffect& effect_;
  std::unordered_map<std::string, std::int32_t> firstControl_;
  std::unordered_map<std::string, std::int32_t> firstAction_;
  std::vector<bool> controlUsed_;
  std::vector<bool> actionUsed_;
  std::unordered_set<std::string> hidden_;
  std::size_t cursor_ = 0;
  std::size_t actionsBound_ = 0;
  SlotPlan plan_;
};

}  // namespace

SlotPlan planLayout(const RackEffect& effect) { return Planner(effect).run(); }

}  // namespace mirandel
