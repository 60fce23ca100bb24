// Taking a rack description: the effect list, the "Effect" menu and the mapping of the
// active effect. Host thread.
#include <algorithm>

#include "base/ShownTexts.h"
#include "rack/RackMapping.h"
#include "rack/RackMerge.h"

namespace mirandel {
namespace {
constexpr int kDescribeRequestsAtOnce = 4;

void showEffectMenu(const RackMapping& rack, CFFGLPluginManager& params) {
  std::vector<std::string> names;
  std::vector<float> values;
  for (std::size_t i = 0; i < rack.effects.size(); ++i) {
    names.push_back(rack.effects[i].name);
    values.push_back(static_cast<float>(i));
  }
  if (names.empty()) {
    names.push_back(text::kDash);
    values.push_back(0.0f);
  }
  params.SetParamElements(param::kEffect, names, values, true);
  params.SetParamVisibility(param::kEffect, !rack.effects.empty(), true);
}
}  // namespace

bool installReply(RackMapping& rack, const DescribeReply& reply, CFFGLPluginManager& params,
                  Nanos now) {
  // A merge that would hold more than one description may is refused like an unreadable
  // reply: a phone sending merge after merge would otherwise grow the list, the menu and
  // every look-up without end.
  if (!updateRack(rack.effects, reply.effects)) return false;
  rack.index.rebuild(rack.effects);
  showEffectMenu(rack, params);

  const std::int32_t current = rack.currentEffect;
  const std::int64_t active = reply.active ? *reply.active : (current >= 0 ? current : 0);
  rack.effectValue = static_cast<float>(active);
  params.RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);

  // Map again when the active effect changed or its description was renewed. A current
  // effect that the new list no longer holds counts as changed, so the current effect always
  // names a real position.
  bool remap =
      current < 0 || current != active || current >= static_cast<std::int32_t>(rack.effects.size());
  if (!remap) {
    const std::string& currentAddress = rack.effects[current].address;
    remap = std::any_of(reply.effects.begin(), reply.effects.end(),
                        [&](const RackEffect& e) { return e.address == currentAddress; });
  }
  if (remap) {
    rack.currentEffect = -1;
    if (active >= 0 && active < static_cast<std::int64_t>(rack.effects.size()))
      applyEffect(rack, params, static_cast<std::int32_t>(active), false, now);
    else
      unbindSlots(rack);  // they keep what the host sees, but name no control any more
  }
  return true;
}

bool rackComplete(const RackMapping& rack) {
  return !rack.effects.empty() && std::all_of(rack.effects.begin(), rack.effects.end(),
                                              [](const RackEffect& e) { return e.controlsLoaded; });
}

std::vector<std::string> describeTargets(const RackMapping& rack) {
  if (rack.effects.empty()) return {"rack"};
  std::vector<std::string> out;
  for (const RackEffect& e : rack.effects) {
    if (e.controlsLoaded) continue;
    out.push_back(e.address);
    if (out.size() == kDescribeRequestsAtOnce) break;
  }
  return out;
}

}  // namespace mirandel
