// The phone's own values of its controls, shown on the slots of the current effect. Host
// thread.
#include <cmath>

#include "link/ControlCodec.h"
#include "rack/RackMapping.h"

namespace mirandel {
namespace {
constexpr std::string_view kPrefix = "/mirandel/";
// A slider's own value comes back from the phone for a while after the host sent it, late
// against the host's newer writes; within this window it is not shown.
constexpr Nanos kSliderEchoWindow = 500 * kMillisecond;
}  // namespace

void takeFeedback(RackMapping& rack, CFFGLPluginManager& params, const std::string& address,
                  const ControlArg& arg, Nanos now) {
  if (address.compare(0, kPrefix.size(), kPrefix) != 0) return;
  const std::string_view rest = std::string_view(address).substr(kPrefix.size());
  const std::size_t slash = rest.find('/');
  if (rest.empty() || slash == std::string_view::npos) return;
  const std::string_view effectPart = rest.substr(0, slash);
  std::string fieldPart;
  for (char c : rest.substr(slash + 1))
    if (c != '/') fieldPart += c;

  const std::optional<RackIndex::ControlRef> found = rack.index.find(effectPart, fieldPart);
  if (!found) return;
  const std::int32_t effectIndex = found->effect, controlIndex = found->control;

  RackControl& control = rack.effects[effectIndex].controls[controlIndex];
  double v = 0.0;
  bool optionChanged = false;
  if (control.type == "bool") {
    control.boolValue = toNumber(arg, v) && v != 0.0;
  } else if (control.type == "option") {
    if (arg.kind == ArgKind::String) {
      optionChanged = control.optionValue != arg.text;
      control.optionValue = arg.text;
    }
  } else if (toNumber(arg, v) && !std::isnan(v)) {
    control.normalized = limitPosition(v);
  }

  if (effectIndex != rack.currentEffect) return;
  if (control.type == "option" && optionChanged && rack.index.namesMode(effectIndex, control.field))
    rack.echo.relayoutRequested = true;

  for (SliderSlot& s : rack.sliders) {
    if (s.control != controlIndex) continue;
    const float value = static_cast<float>(control.normalized);
    if (s.lastSent >= 0.0f &&
        (std::fabs(value - s.lastSent) < 0.004f || now - s.lastSentAt < kSliderEchoWindow))
      continue;
    s.value = value;
    params.RaiseParamEvent(s.hostIndex, FF_EVENT_FLAG_VALUE);
  }
  for (ToggleSlot& tg : rack.toggles) {
    if (tg.control != controlIndex) continue;
    tg.value = control.boolValue;
    params.RaiseParamEvent(tg.hostIndex, FF_EVENT_FLAG_VALUE);
  }
  if (rack.option.control == controlIndex) {
    rack.option.value = optionPosition(control);
    params.RaiseParamEvent(rack.option.hostIndex, FF_EVENT_FLAG_VALUE);
  }
}

}  // namespace mirandel
