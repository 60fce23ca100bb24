// Showing the current effect on the generic host parameters. Host thread.
#include <algorithm>

#include "base/ShownTexts.h"
#include "rack/LayoutPlan.h"
#include "rack/RackMapping.h"

namespace mirandel {
namespace {
constexpr Nanos kReannounceDelay = 1500 * kMillisecond;

std::vector<SlotDefinition> makeDefinitions() {
  std::vector<SlotDefinition> out;
  out.push_back({param::kHero, {SlotKind::Slider, 0}, "Hero"});
  for (int q = 0; q < kQuickToggles; ++q)
    out.push_back({param::kQuick1 + q, {SlotKind::Toggle, q}, "Quick" + std::to_string(q + 1)});
  out.push_back({param::kOption1, {SlotKind::Option, 0}, "Option1"});
  for (int k = 1; k <= 9; ++k) {
    const std::uint32_t base = 18 + 4 * k;
    for (int j = 0; j < 3; ++j) {
      const int n = 3 * k - 2 + j;
      out.push_back({base + j, {SlotKind::Slider, n}, "Slot" + std::to_string(n)});
    }
    out.push_back({base + 3, {SlotKind::Toggle, 4 + k}, "Switch" + std::to_string(k)});
  }
  for (int a = 0; a < kActionSlots; ++a)
    out.push_back({param::kAction1 + a, {SlotKind::Action, a}, "Action" + std::to_string(a + 1)});
  return out;
}

// Tells the host again the values of the current mapping, and of the "Effect" menu.
void reannounceValues(const RackMapping& rack, CFFGLPluginManager& params) {
  for (const SliderSlot& s : rack.sliders)
    if (s.control >= 0) params.RaiseParamEvent(s.hostIndex, FF_EVENT_FLAG_VALUE);
  for (const ToggleSlot& t : rack.toggles)
    if (t.control >= 0) params.RaiseParamEvent(t.hostIndex, FF_EVENT_FLAG_VALUE);
  if (rack.option.control >= 0) params.RaiseParamEvent(rack.option.hostIndex, FF_EVENT_FLAG_VALUE);
  params.RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);
}
}  // namespace

const std::vector<SlotDefinition>& slotDefinitions() {
  static const std::vector<SlotDefinition> definitions = makeDefinitions();
  return definitions;
}

RackMapping makeRackMapping() {
  RackMapping rack;
  for (const SlotDefinition& d : slotDefinitions()) {
    rack.slotMap[d.hostIndex] = d.ref;
    switch (d.ref.kind) {
      case SlotKind::Slider:
        rack.sliders[d.ref.slot].hostIndex = d.hostIndex;
        break;
      case SlotKind::Toggle:
        rack.toggles[d.ref.slot].hostIndex = d.hostIndex;
        break;
      case SlotKind::Option:
        rack.option.hostIndex = d.hostIndex;
        break;
      case SlotKind::Action:
        rack.actions[d.ref.slot].hostIndex = d.hostIndex;
        break;
      case SlotKind::None:
        break;
    }
    if (d.hostIndex >= param::kOption1 && d.hostIndex < param::kAction1)
      rack.tuneOrder.push_back(d.ref);
  }
  return rack;
}

SlotRef slotOf(const RackMapping& rack, std::uint32_t hostIndex) {
  return hostIndex < rack.slotMap.size() ? rack.slotMap[hostIndex] : SlotRef{};
}

void unbindSlots(RackMapping& rack) {
  for (SliderSlot& s : rack.sliders) s.control = -1;
  for (ToggleSlot& t : rack.toggles) {
    t.control = -1;
    t.quickAction = -1;
  }
  rack.option.control = -1;
  for (ActionSlot& a : rack.actions) a.action = -1;
}

void resetSlots(RackMapping& rack, CFFGLPluginManager& params) {
  unbindSlots(rack);
  for (const SliderSlot& s : rack.sliders) params.SetParamVisibility(s.hostIndex, false, true);
  for (const ToggleSlot& t : rack.toggles) params.SetParamVisibility(t.hostIndex, false, true);
  params.SetParamVisibility(rack.option.hostIndex, false, true);
  for (const ActionSlot& a : rack.actions) params.SetParamVisibility(a.hostIndex, false, true);
}

void clearRack(RackMapping& rack, CFFGLPluginManager& params) {
  rack.effects.clear();
  rack.index.rebuild(rack.effects);
  rack.currentEffect = -1;
  resetSlots(rack, params);
}

void applyEffect(RackMapping& rack, CFFGLPluginManager& params, std::int32_t index, bool relayout,
                 Nanos now) {
  if (index < 0 || index >= static_cast<std::int32_t>(rack.effects.size()) ||
      index == rack.currentEffect)
    return;
  rack.currentEffect = index;
  if (relayout) {
    rack.echo.lastRelayoutAt = now;
  } else {
    rack.echo.lastEffectSwitchAt = now;
    rack.echo.reannounceFrom = now + kReannounceDelay;
    rack.echo.reannounceDue = true;
  }
  resetSlots(rack, params);

  const RackEffect& effect = rack.effects[index];
  const SlotPlan plan = planLayout(effect);
  auto show = [&params](std::uint32_t hostIndex, const std::string& name, bool valueChanged) {
    params.SetParamDisplayName(hostIndex, name, true);
    params.SetParamVisibility(hostIndex, true, true);
    if (valueChanged) params.RaiseParamEvent(hostIndex, FF_EVENT_FLAG_VALUE);
  };

  for (int s = 0; s < kSliderSlots; ++s) {
    const SlotBinding& b = plan.sliders[s];
    if (b.control < 0) continue;
    rack.sliders[s].control = b.control;
    rack.sliders[s].value = static_cast<float>(effect.controls[b.control].normalized);
    show(rack.sliders[s].hostIndex, b.displayName, true);
  }
  for (int t = 0; t < kToggleSlots; ++t) {
    const SlotBinding& b = plan.toggles[t];
    ToggleSlot& toggle = rack.toggles[t];
    if (b.control >= 0) {
      toggle.control = b.control;
      toggle.value = effect.controls[b.control].boolValue;
      show(toggle.hostIndex, b.displayName, true);
    } else if (b.action >= 0 && t < kQuickToggles) {
      toggle.quickAction = b.action;
      toggle.value = false;
      show(toggle.hostIndex, b.displayName, true);
    }
  }
  if (plan.option.control >= 0) {
    const RackControl& c = effect.controls[plan.option.control];
    rack.option.control = plan.option.control;
    std::vector<std::string> names = c.optionList;
    std::vector<float> values;
    for (std::size_t k = 0; k < names.size(); ++k) values.push_back(static_cast<float>(k));
    if (names.empty()) {
      names.push_back(text::kDash);
      values.push_back(0.0f);
    }
    params.SetParamElements(rack.option.hostIndex, names, values, true);
    rack.option.value = optionPosition(c);
    show(rack.option.hostIndex, c.label, true);
  }
  for (int a = 0; a < kActionSlots; ++a) {
    const SlotBinding& b = plan.actions[a];
    if (b.action < 0) continue;
    rack.actions[a].action = b.action;
    show(rack.actions[a].hostIndex, b.displayName, false);
  }
}

void takeEffectFromPhone(RackMapping& rack, CFFGLPluginManager& params, std::int32_t index,
                         Nanos now) {
  if (index < 0 || index >= static_cast<std::int32_t>(rack.effects.size()) ||
      index == rack.currentEffect)
    return;
  rack.effectValue = static_cast<float>(index);
  params.RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);
  applyEffect(rack, params, index, false, now);
}

void superviseRack(RackMapping& rack, CFFGLPluginManager& params, Nanos now) {
  if (rack.echo.relayoutRequested) {
    rack.echo.relayoutRequested = false;
    const std::int32_t effect = rack.currentEffect;
    rack.currentEffect = -1;
    applyEffect(rack, params, effect, true, now);
  }
  if (rack.echo.reannounceDue && now >= rack.echo.reannounceFrom) {
    rack.echo.reannounceDue = false;
    reannounceValues(rack, params);
  }
}

}  // namespace mirandel
