#include "rack/RackModel.h"

#include <algorithm>

namespace mirandel {

bool isShown(const RackEffect& effect, const std::string& name) {
  const auto rule = effect.showConditions.find(name);
  if (rule == effect.showConditions.end()) return true;
  const ShowCondition& condition = rule->second;
  const auto control =
      std::find_if(effect.controls.begin(), effect.controls.end(),
                   [&](const RackControl& c) { return c.field == condition.controlField; });
  // A rule about a control the effect does not have cannot hide anything.
  if (control == effect.controls.end()) return true;
  return std::find(condition.values.begin(), condition.values.end(), control->optionValue) !=
         condition.values.end();
}

}  // namespace mirandel
