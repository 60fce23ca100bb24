// The host's reads and writes of the clip's parameters, each routed to the state it
// concerns. Host thread.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/Rounding.h"
#include "clip/MirandelLink.h"
#include "clip/TextBuffer.h"

namespace mirandel {

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
  // The host still pushes the old effect's values for a while after a switch.
  const bool echoOfSwitch = recentEffectSwitch(rack_, t);
  // Every write counts towards a press, also one that a suppression window drops.
  const bool pressBegins = index < kParamCount && presses_[index].begins(v, t);
  PictureSettings& picture = stream_.settings();
  switch (index) {
    case param::kDevice: {
      discovery_.deviceValue = v;
      const auto k = roundToIndex(v);
      if (k && *k >= 0 && *k < static_cast<std::int32_t>(discovery_.devices.size()))
        connectToPhone(discovery_.devices[*k].bestAddress);
      return FF_SUCCESS;
    }
    case param::kPhoneIp:
    case param::kStatus:
    case param::kFps:
    case param::kPicture:
      break;  // text parameters never arrive here from a conforming host
    case param::kRescan:
      if (pressBegins) {
        discovery_.lastProbeAt = t;
        link_->probeNow();
      }
      return FF_SUCCESS;
    case param::kRec:
      camera_.recording = v != 0.0f;
      sendCommand("/mirandel/rec", {ControlArg::ofInt(camera_.recording ? 1 : 0)});
      return FF_SUCCESS;
    case param::kSnap:
      if (pressBegins) sendCommand("/mirandel/snap");
      return FF_SUCCESS;
    case param::kFlipCamera:
      if (pressBegins) sendCommand("/mirandel/flip");
      return FF_SUCCESS;
    case param::kZoom:
      if (echoOfSwitch)
        camera_.zoom = v;
      else
        send(writeZoom(camera_, v, t));
      return FF_SUCCESS;
    case param::kFit:
      if (const auto mode = roundToIndex(v)) picture.fitMode = *mode;
      return FF_SUCCESS;
    case param::kQuality: {
      const auto q = roundToIndex(v);
      if (!q || *q == picture.quality) return FF_SUCCESS;
      picture.quality = *q;
      if (!echoOfSwitch) sendCommand("/mirandel/stream/quality", {ControlArg::ofInt(*q)});
      return FF_SUCCESS;
    }
    case param::kLatency:
      picture.latency = v;
      return FF_SUCCESS;
    case param::kReconnect:
      if (pressBegins) stream_.requestRestart();
      return FF_SUCCESS;
    case param::kEffect:
      send(writeEffect(rack_, *this, v, t));
      return FF_SUCCESS;
    default:
      break;
  }
  // Indexes beyond the table are refused while an effect is current.
  if (slotOf(index).kind == SlotKind::None) return rack_.currentEffect < 0 ? FF_SUCCESS : FF_FAIL;
  send(writeSlot(rack_, *this, index, v, pressBegins, t));
  return FF_SUCCESS;
}

float MirandelLink::GetFloatParameter(FFUInt32 index) {
  const PictureSettings& picture = stream_.settings();
  switch (index) {
    case param::kDevice:
      superviseClip();
      return discovery_.deviceValue;
    case param::kEffect:
      return rack_.effectValue;
    case param::kRec:
      return camera_.recording ? 1.0f : 0.0f;
    case param::kZoom:
      return camera_.zoom;
    case param::kFit:
      return static_cast<float>(picture.fitMode);
    case param::kQuality:
      return static_cast<float>(picture.quality);
    case param::kLatency:
      return picture.latency;
    default:
      break;
  }
  const SlotRef ref = slotOf(index);
  switch (ref.kind) {
    case SlotKind::Slider:
      return rack_.sliders[ref.slot].value;
    case SlotKind::Toggle:
      return rack_.toggles[ref.slot].value ? 1.0f : 0.0f;
    case SlotKind::Option:
      return rack_.option.value;
    default:
      return 0.0f;
  }
}

char* MirandelLink::GetTextParameter(FFUInt32 index) {
  const std::string* text = nullptr;
  switch (index) {
    case param::kStatus:
      superviseClip();
      text = &session_.statusText;
      break;
    case param::kPhoneIp:
      text = &session_.ipText;
      break;
    case param::kFps:
      text = &camera_.fpsText;
      break;
    case param::kPicture:
      text = &stream_.pictureText();
      break;
    default:
      break;
  }
  copyTerminatedUtf8(text ? *text : std::string_view(), textAnswer_, sizeof textAnswer_);
  return textAnswer_;
}

char* MirandelLink::GetParameterDisplay(FFUInt32 index) {
  superviseClip();
  if (index == param::kZoom) {
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%.2f\xC3\x97",
                  scale::zoomFactor(camera_.zoom));
    return displayAnswer_;
  }
  if (index == param::kLatency) {
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%d ms",
                  static_cast<int>(scale::latencyMs(stream_.settings().latency)));
    return displayAnswer_;
  }
  const SlotRef ref = slotOf(index);
  if (ref.kind == SlotKind::Slider) {
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%.2f",
                  static_cast<double>(rack_.sliders[ref.slot].value));
    return displayAnswer_;
  }
  return CFFGLPlugin::GetParameterDisplay(index);
}

FFResult MirandelLink::SetTextParameter(FFUInt32 index, const char* text) {
  switch (index) {
    case param::kPhoneIp:
      session_.ipText = text ? text : "";
      if (!session_.ipText.empty()) connectToPhone(session_.ipText);
      return FF_SUCCESS;
    case param::kStatus:
    case param::kFps:
    case param::kPicture:
      return FF_SUCCESS;
    default:
      return FF_FAIL;
  }
}

}  // namespace mirandel
