// Installing a rack description into the clip: the effect list, the "Effect"
// menu, the status line and the mapping of the active effect. Host thread.
#include <algorithm>

#include "clip/MirandelLink.h"
#include "base/Log.h"
#include "rack/RackMerge.h"
#include "rack/RackParser.h"

namespace mirandel {
namespace {}

void MirandelLink::setEffectMenu() {
  std::vector<std::string> names;
  std::vector<float> values;
  for (std::size_t i = 0; i < effects_.size(); ++i) {
    names.push_back(effects_[i].name);
    values.push_back(static_cast<float>(i));
  }
  if (names.empty()) {
    names.push_back(text::kDash);
    values.push_back(0.0f);
  }
  SetParamElements(param::kEffect, names, values, true);
}

void MirandelLink::refuseDescribeReply() {
  statusText_ = text::kBadDescribeReply;
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);
}

void MirandelLink::handleDescribeReply(const std::string& text) {
  describeWork_ += std::min(text.size(), kMaxDescriptionBytes) + kDescribeCharge;
  // The reply is read whole first: one that fails anywhere leaves the effect
  // list, the menus and the mapping exactly as they were.
  const std::optional<DescribeReply> parsed = parseDescribeReply(text);
  if (!parsed) {
    refuseDescribeReply();
    return;
  }
  const DescribeReply& reply = *parsed;

  // A merge that would hold more than one description may is refused like
  // an unreadable reply: a phone sending merge after merge would otherwise
  // grow the list, the menu and every look-up without end.
  if (!updateRack(effects_, reply.effects)) {
    refuseDescribeReply();
    return;
  }
  rackIndex_.rebuild(effects_);

  setEffectMenu();
  const bool any = !effects_.empty();
  for (std::uint32_t i :
       {param::kEffect, param::kRec, param::kSnap, param::kFlipCamera, param::kZoom, param::kFps})
    SetParamVisibility(i, any, true);

  statusText_ = reply.name + "  " + reply.version + "  " + phoneAddress_;
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);

  const std::int64_t active =
      reply.active ? *reply.active : (currentEffect_ >= 0 ? currentEffect_ : 0);
  feedbackGuard_ = true;
  effectValue_ = static_cast<float>(active);
  RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);

  // Map again when the active effect changed or its description was renewed.
  // A current effect that the new list no longer holds counts as changed, so
  // the current effect always names a real position.
  bool remap = currentEffect_ < 0 || currentEffect_ != active ||
               currentEffect_ >= static_cast<std::int32_t>(effects_.size());
  if (!remap) {
    const std::string& currentAddress = effects_[currentEffect_].address;
    remap = std::any_of(reply.effects.begin(), reply.effects.end(),
                        [&](const RackEffect& e) { return e.address == currentAddress; });
  }
  if (remap) {
    currentEffect_ = -1;
    if (active >= 0 && active < static_cast<std::int64_t>(effects_.size()))
      applyEffect(static_cast<std::int32_t>(active), false);
    else
      unbindSlots();  // they keep what the host sees, but name no control any more
  }
  feedbackGuard_ = false;

  const auto loading = std::count_if(effects_.begin(), effects_.end(),
                                     [](const RackEffect& e) { return !e.controlsLoaded; });
  std::string suffix;
  if (loading > 0) {
    requestDescribe();
    suffix = ", " + std::to_string(loading) + " loading";
  }
  hostLog("Mirandel: " + std::to_string(effects_.size()) + " effects from " + phoneAddress_ +
          suffix);
}

}  // namespace mirandel
