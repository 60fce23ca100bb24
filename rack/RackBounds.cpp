#include "rack/RackBounds.h"

namespace mirandel {

RackTally& RackTally::operator+=(const RackTally& other) {
  effects += other.effects;
  controls += other.controls;
  options += other.options;
  actions += other.actions;
  layoutFields += other.layoutFields;
  textBytes += other.textBytes;
  return *this;
}

RackTally tallyOf(const RackEffect& effect) {
  RackTally t;
  t.effects = 1;
  t.controls = effect.controls.size();
  t.actions = effect.actions.size() + effect.actionLabels.size();
  t.layoutFields = effect.layout.size() + effect.showConditions.size() + effect.heroesByMode.size();
  std::size_t& text = t.textBytes;
  text += effect.name.size() + effect.address.size() + effect.hero.size() +
          effect.heroLabel.size() + effect.heroModeField.size();
  for (const RackControl& c : effect.controls) {
    text += c.field.size() + c.optionValue.size();
    if (c.label != c.field) text += c.label.size();
    if (c.type != "float") text += c.type.size();
    for (const std::string& option : c.optionList) text += option.size();
    t.options += c.optionList.size();
  }
  for (const std::string& action : effect.actions) text += action.size();
  for (const std::string& label : effect.toggleLabels) text += label.size();
  for (const LayoutSection& section : effect.layout) {
    text += section.title.size();
    t.layoutFields += section.fields.size();
    for (const std::string& field : section.fields) text += field.size();
  }
  for (const auto& [name, condition] : effect.showConditions) {
    text += name.size() + condition.controlField.size();
    t.layoutFields += condition.values.size();
    for (const std::string& value : condition.values) text += value.size();
  }
  for (const auto& [action, label] : effect.actionLabels) text += action.size() + label.size();
  for (const auto& [mode, field] : effect.heroesByMode) text += mode.size() + field.size();
  return t;
}

RackTally tallyOf(const std::vector<RackEffect>& effects) {
  RackTally t;
  for (const RackEffect& e : effects) t += tallyOf(e);
  return t;
}

bool withinBounds(const RackTally& t) {
  return t.effects <= kMaxRackEffects && t.controls <= kMaxRackControls &&
         t.options <= kMaxRackOptions && t.actions <= kMaxRackActions &&
         t.layoutFields <= kMaxRackLayoutFields && t.textBytes <= kMaxDescriptionBytes;
}

}  // namespace mirandel
