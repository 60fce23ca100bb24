// Host parameter changes: the clip's state, and the commands they send to the
// phone. Host thread.
#include <algorithm>
#include <cmath>
#include <optional>

#include "clip/MirandelLink.h"
#include "base/Rounding.h"

namespace mirandel {
namespace {
// After an effect switch the host pushes the values it still shows for the old
// effect; after a relayout it may push values of re-labelled slots. Both are
// ignored for a while and the clip re-announces its own values afterwards.
constexpr Nanos kEffectSwitchWindow = 1500 * kMillisecond;
constexpr Nanos kRelayoutWindow = 300 * kMillisecond;

}  // namespace

bool MirandelLink::recentEffectSwitch(Nanos t) const {
  return lastEffectSwitchAt_ != 0 && t - lastEffectSwitchAt_ < kEffectSwitchWindow;
}

std::optional<float> MirandelLink::limitHostValue(FFUInt32 index, float v) const {
  const ParamInfo* info = FindParamInfo(index);
  if (info == nullptr || info->type == FF_TYPE_TEXT) return v;  // holds no number
  if (!std::isfinite(v)) return std::nullopt;
  switch (info->type) {
    case FF_TYPE_STANDARD:
      return std::clamp(v, info->rangeMin, info->rangeMax);
    case FF_TYPE_OPTION: {
      // Elements are numbered 0, 1, ... in every menu of this clip.
      const float last = static_cast<float>(info->elements.empty() ? 0 : info->elements.size() - 1);
      // The phones and effects on offer change under the host's feet: a stale
      // position beyond them must not pick whichever happens to be last.
      if ((index == param::kDevice || index == param::kEffect) && (v < -0.5f || v >= last + 0.5f))
        return std::nullopt;
      return std::clamp(v, 0.0f, last);
    }
    default:
      return v;  // a boolean or an event: anything but 0 is on
  }
}

FFResult MirandelLink::SetFloatParameter(FFUInt32 index, float raw) {
  // A host may write any float. What no parameter can hold is dropped, and the
  // rest is limited to the parameter's range before anything is stored, sent
  // or converted to an index.
  const std::optional<float> limited = limitHostValue(index, raw);
  if (!limited) return FF_SUCCESS;
  const float v = *limited;
  const Nanos t = now();
  const bool recentSwitch = recentEffectSwitch(t);
  // Every write counts towards a press, also one that a suppression window drops.
  const bool pressBegins = index < kParamCount && presses_[index].begins(v, t);
  switch (index) {
    case param::kDevice: {
      deviceValue_ = v;
      const auto k = roundToIndex(v);
      if (k && *k >= 0 && *k < static_cast<std::int32_t>(devices_.size()))
        connectToPhone(devices_[*k].bestAddress);
      return FF_SUCCESS;
    }
    case param::kPhoneIp:
    case param::kStatus:
    case param::kFps:
    case param::kPicture:
      break;  // text parameters never arrive here from a conforming host
    case param::kRescan:
      if (pressBegins) {
        lastProbeAt_ = t;
        link_->probeNow();
      }
      return FF_SUCCESS;
    case param::kRec:
      recording_ = v != 0.0f;
      if (!feedbackGuard_) sendCommand("/mirandel/rec", {ControlArg::ofInt(recording_ ? 1 : 0)});
      return FF_SUCCESS;
    case param::kSnap:
      if (pressBegins) sendCommand("/mirandel/snap");
      return FF_SUCCESS;
    case param::kFlipCamera:
      if (pressBegins) sendCommand("/mirandel/flip");
      return FF_SUCCESS;
    case param::kZoom:
      zoom_ = v;
      if (!feedbackGuard_ && !recentSwitch) {
        const auto z = static_cast<float>(scale::zoomFactor(v));
        lastZoomSent_ = z;
        lastZoomSentAt_ = t;
        sendCommand("/mirandel/zoom", {ControlArg::ofFloat(z)});
      }
      return FF_SUCCESS;
    case param::kFit:
      if (const auto mode = roundToIndex(v)) fitMode_ = *mode;
      return FF_SUCCESS;
    case param::kQuality: {
      const auto q = roundToIndex(v);
      if (!q || *q == quality_) return FF_SUCCESS;
      quality_ = *q;
      if (!feedbackGuard_ && !recentSwitch)
        sendCommand("/mirandel/stream/quality", {ControlArg::ofInt(quality_)});
      return FF_SUCCESS;
    }
    case param::kLatency:
      latency_ = v;
      return FF_SUCCESS;
    case param::kReconnect:
      if (pressBegins) restartRequested_ = true;
      return FF_SUCCESS;
    case param::kEffect: {
      effectValue_ = v;
      if (feedbackGuard_) return FF_SUCCESS;
      const auto k = roundToIndex(v);
      if (k && *k >= 0 && *k < static_cast<std::int32_t>(effects_.size()) && *k != currentEffect_) {
        sendCommand("/mirandel/patch", {ControlArg::ofText(effects_[*k].address)});
        applyEffect(*k, false);
      }
      return FF_SUCCESS;
    }
    default:
      break;
  }
  return setSlotParameter(index, v, pressBegins);
}

FFResult MirandelLink::setSlotParameter(FFUInt32 index, float v, bool pressBegins) {
  if (currentEffect_ < 0) return FF_SUCCESS;
  const Nanos t = now();
  const bool recentSwitch = recentEffectSwitch(t);
  const bool recentRelayout = lastRelayoutAt_ != 0 && t - lastRelayoutAt_ < kRelayoutWindow;
  if (!feedbackGuard_ && recentSwitch) return FF_SUCCESS;

  const RackEffect& effect = effects_[currentEffect_];
  const std::string prefix = "/mirandel/" + effect.address + "/";
  const SlotRef ref = slotOf(index);
  if (!feedbackGuard_ && ref.kind != SlotKind::Option && recentRelayout) return FF_SUCCESS;

  switch (ref.kind) {
    case SlotKind::Slider: {
      SliderSlot& s = sliders_[ref.slot];
      if (!feedbackGuard_ && v == s.value) return FF_SUCCESS;
      s.value = v;
      if (feedbackGuard_ || s.control < 0) return FF_SUCCESS;
      s.lastSent = v;
      s.lastSentAt = t;
      sendCommand(prefix + effect.controls[s.control].field, {ControlArg::ofFloat(v)});
      return FF_SUCCESS;
    }
    case SlotKind::Toggle: {
      ToggleSlot& tg = toggles_[ref.slot];
      if (ref.slot < kQuickToggles && tg.quickAction >= 0) {
        // A quick action is a momentary button: it fires once per press and
        // falls back to off.
        if (pressBegins && !feedbackGuard_) sendCommand(prefix + effect.actions[tg.quickAction]);
        tg.value = false;
        if (v != 0.0f) RaiseParamEvent(tg.hostIndex, FF_EVENT_FLAG_VALUE);
        return FF_SUCCESS;
      }
      const bool b = v != 0.0f;
      if (!feedbackGuard_ && b == tg.value) return FF_SUCCESS;
      tg.value = b;
      if (feedbackGuard_ || tg.control < 0) return FF_SUCCESS;
      sendCommand(prefix + effect.controls[tg.control].field, {ControlArg::ofInt(b ? 1 : 0)});
      return FF_SUCCESS;
    }
    case SlotKind::Option: {
      if (!feedbackGuard_ && v == option_.value) return FF_SUCCESS;
      option_.value = v;
      if (feedbackGuard_ || option_.control < 0) return FF_SUCCESS;
      RackControl& c = effects_[currentEffect_].controls[option_.control];
      const auto k = roundToIndex(v);
      if (!k || *k < 0 || *k >= static_cast<std::int32_t>(c.optionList.size())) return FF_SUCCESS;
      const std::string choice = c.optionList[*k];
      sendCommand(prefix + c.field, {ControlArg::ofText(choice)});
      if (c.optionValue != choice) {
        c.optionValue = choice;
        if (rackIndex_.namesMode(currentEffect_, c.field)) relayoutRequested_ = true;
      }
      return FF_SUCCESS;
    }
    case SlotKind::Action: {
      const ActionSlot& a = actions_[ref.slot];
      if (pressBegins && a.action >= 0) sendCommand(prefix + effect.actions[a.action]);
      return FF_SUCCESS;
    }
    case SlotKind::None:
    default:
      return FF_FAIL;
  }
}

}  // namespace mirandel
