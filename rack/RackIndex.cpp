#include "rack/RackIndex.h"

namespace mirandel {

std::string RackIndex::keyOf(std::string_view address, std::string_view field) {
  std::string key = std::to_string(address.size());
  key += ':';
  key += address;
  key += field;
  return key;
}

void RackIndex::rebuild(const std::vector<RackEffect>& effects) {
  controls_.clear();
  modeFields_.assign(effects.size(), {});
  for (std::size_t e = 0; e < effects.size(); ++e) {
    const RackEffect& effect = effects[e];
    for (std::size_t c = 0; c < effect.controls.size(); ++c)
      controls_.try_emplace(keyOf(effect.address, effect.controls[c].field),
                            ControlRef{static_cast<std::int32_t>(e), static_cast<std::int32_t>(c)});
    std::unordered_set<std::string>& modes = modeFields_[e];
    modes.insert(effect.heroModeField);
    for (const auto& [name, condition] : effect.showConditions)
      modes.insert(condition.controlField);
  }
}

std::optional<RackIndex::ControlRef> RackIndex::find(std::string_view address,
                                                     std::string_view field) const {
  const auto it = controls_.find(keyOf(address, field));
  if (it == controls_.end()) return std::nullopt;
  return it->second;
}

bool RackIndex::namesMode(std::int32_t effect, const std::string& field) const {
  if (effect < 0 || static_cast<std::size_t>(effect) >= modeFields_.size()) return false;
  return modeFields_[static_cast<std::size_t>(effect)].count(field) > 0;
}

}  // namespace mirandel
