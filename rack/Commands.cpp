// The host's writes to the rack's parameters, and the commands they send the phone. Host
// thread.
#include "base/Rounding.h"
#include "rack/RackMapping.h"

namespace mirandel {
namespace {
constexpr Nanos kEffectSwitchWindow = 1500 * kMillisecond;
constexpr Nanos kRelayoutWindow = 300 * kMillisecond;

ControlMessage command(const RackEffect& effect, const std::string& name,
                       std::vector<ControlArg> args = {}) {
  return {"/mirandel/" + effect.address + "/" + name, std::move(args)};
}
}  // namespace

bool recentEffectSwitch(const RackMapping& rack, Nanos now) {
  return rack.echo.lastEffectSwitchAt != 0 &&
         now - rack.echo.lastEffectSwitchAt < kEffectSwitchWindow;
}

std::optional<ControlMessage> writeEffect(RackMapping& rack, CFFGLPluginManager& params,
                                          float value, Nanos now) {
  rack.effectValue = value;
  const auto k = roundToIndex(value);
  if (!k || *k < 0 || *k >= static_cast<std::int32_t>(rack.effects.size()) ||
      *k == rack.currentEffect)
    return std::nullopt;
  ControlMessage patch{"/mirandel/patch", {ControlArg::ofText(rack.effects[*k].address)}};
  applyEffect(rack, params, *k, false, now);
  return patch;
}

std::optional<ControlMessage> writeSlot(RackMapping& rack, CFFGLPluginManager& params,
                                        std::uint32_t hostIndex, float v, bool pressBegins,
                                        Nanos now) {
  if (rack.currentEffect < 0 || recentEffectSwitch(rack, now)) return std::nullopt;
  const bool recentRelayout =
      rack.echo.lastRelayoutAt != 0 && now - rack.echo.lastRelayoutAt < kRelayoutWindow;
  const SlotRef ref = slotOf(rack, hostIndex);
  // A relayout re-labels sliders, switches and buttons, not the option menu that caused it.
  if (ref.kind != SlotKind::Option && recentRelayout) return std::nullopt;

  RackEffect& effect = rack.effects[rack.currentEffect];
  switch (ref.kind) {
    case SlotKind::Slider: {
      SliderSlot& s = rack.sliders[ref.slot];
      if (v == s.value) return std::nullopt;
      s.value = v;
      if (s.control < 0) return std::nullopt;
      s.lastSent = v;
      s.lastSentAt = now;
      return command(effect, effect.controls[s.control].field, {ControlArg::ofFloat(v)});
    }
    case SlotKind::Toggle: {
      ToggleSlot& tg = rack.toggles[ref.slot];
      if (ref.slot < kQuickToggles && tg.quickAction >= 0) {
        // A quick action is a momentary button: it fires once per press and falls back to off.
        tg.value = false;
        if (v != 0.0f) params.RaiseParamEvent(tg.hostIndex, FF_EVENT_FLAG_VALUE);
        if (!pressBegins) return std::nullopt;
        return command(effect, effect.actions[tg.quickAction]);
      }
      const bool b = v != 0.0f;
      if (b == tg.value) return std::nullopt;
      tg.value = b;
      if (tg.control < 0) return std::nullopt;
      return command(effect, effect.controls[tg.control].field, {ControlArg::ofInt(b ? 1 : 0)});
    }
    case SlotKind::Option: {
      if (v == rack.option.value) return std::nullopt;
      rack.option.value = v;
      if (rack.option.control < 0) return std::nullopt;
      RackControl& c = effect.controls[rack.option.control];
      const auto k = roundToIndex(v);
      if (!k || *k < 0 || *k >= static_cast<std::int32_t>(c.optionList.size())) return std::nullopt;
      const std::string choice = c.optionList[*k];
      if (c.optionValue != choice) {
        c.optionValue = choice;
        if (rack.index.namesMode(rack.currentEffect, c.field)) rack.echo.relayoutRequested = true;
      }
      return command(effect, c.field, {ControlArg::ofText(choice)});
    }
    case SlotKind::Action: {
      const ActionSlot& a = rack.actions[ref.slot];
      if (!pressBegins || a.action < 0) return std::nullopt;
      return command(effect, effect.actions[a.action]);
    }
    case SlotKind::None:
      break;
  }
  return std::nullopt;
}

}  // namespace mirandel
