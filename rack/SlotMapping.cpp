// Showing the current effect on the clip's generic host parameters, and the
// "Device" menu of discovered phones. Host thread.
#include <algorithm>

#include "clip/MirandelLink.h"
#include "rack/LayoutPlan.h"

namespace mirandel {
namespace {
constexpr Nanos kAutoConnectDelay = 400 * kMillisecond;
}

void MirandelLink::unbindSlots() {
  for (SliderSlot& s : sliders_) s.control = -1;
  for (ToggleSlot& t : toggles_) {
    t.control = -1;
    t.quickAction = -1;
  }
  option_.control = -1;
  for (ActionSlot& a : actions_) a.action = -1;
}

void MirandelLink::resetSlots() {
  unbindSlots();
  for (const SliderSlot& s : sliders_) SetParamVisibility(s.hostIndex, false, true);
  for (const ToggleSlot& t : toggles_) SetParamVisibility(t.hostIndex, false, true);
  SetParamVisibility(option_.hostIndex, false, true);
  for (const ActionSlot& a : actions_) SetParamVisibility(a.hostIndex, false, true);
}

void MirandelLink::applyEffect(std::int32_t index, bool relayout) {
  if (index < 0 || index >= static_cast<std::int32_t>(effects_.size()) || index == currentEffect_)
    return;
  currentEffect_ = index;
  if (relayout) {
    lastRelayoutAt_ = now();
  } else {
    lastEffectSwitchAt_ = now();
    localEffectChangeAt_ = lastEffectSwitchAt_;
    localEffectChange_ = true;
  }
  resetSlots();

  const RackEffect& effect = effects_[index];
  const SlotPlan plan = planLayout(effect);
  auto show = [this](std::uint32_t hostIndex, const std::string& name, bool valueChanged) {
    SetParamDisplayName(hostIndex, name, true);
    SetParamVisibility(hostIndex, true, true);
    if (valueChanged) RaiseParamEvent(hostIndex, FF_EVENT_FLAG_VALUE);
  };

  for (int s = 0; s < kSliderSlots; ++s) {
    const SlotBinding& b = plan.sliders[s];
    if (b.control < 0) continue;
    sliders_[s].control = b.control;
    sliders_[s].value = static_cast<float>(effect.controls[b.control].normalized);
    show(sliders_[s].hostIndex, b.displayName, true);
  }
  for (int t = 0; t < kToggleSlots; ++t) {
    const SlotBinding& b = plan.toggles[t];
    if (b.control >= 0) {
      toggles_[t].control = b.control;
      toggles_[t].value = effect.controls[b.control].boolValue;
      show(toggles_[t].hostIndex, b.displayName, true);
    } else if (b.action >= 0 && t < kQuickToggles) {
      toggles_[t].quickAction = b.action;
      toggles_[t].value = false;
      show(toggles_[t].hostIndex, b.displayName, true);
    }
  }
  if (plan.option.control >= 0) {
    const RackControl& c = effect.controls[plan.option.control];
    option_.control = plan.option.control;
    std::vector<std::string> names = c.optionList;
    std::vector<float> values;
    for (std::size_t k = 0; k < names.size(); ++k) values.push_back(static_cast<float>(k));
    if (names.empty()) {
      names.push_back(text::kDash);
      values.push_back(0.0f);
    }
    SetParamElements(option_.hostIndex, names, values, true);
    option_.value = 0.0f;
    for (std::size_t k = 0; k < c.optionList.size(); ++k)
      if (c.optionList[k] == c.optionValue) {
        option_.value = static_cast<float>(k);
        break;
      }
    show(option_.hostIndex, c.label, true);
  }
  for (int a = 0; a < kActionSlots; ++a) {
    const SlotBinding& b = plan.actions[a];
    if (b.action < 0) continue;
    actions_[a].action = b.action;
    show(actions_[a].hostIndex, b.displayName, false);
  }
}

void MirandelLink::reannounceValues() {
  feedbackGuard_ = true;
  for (const SliderSlot& s : sliders_)
    if (s.control >= 0) RaiseParamEvent(s.hostIndex, FF_EVENT_FLAG_VALUE);
  for (const ToggleSlot& t : toggles_)
    if (t.control >= 0) RaiseParamEvent(t.hostIndex, FF_EVENT_FLAG_VALUE);
  if (option_.control >= 0) RaiseParamEvent(option_.hostIndex, FF_EVENT_FLAG_VALUE);
  RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);
  feedbackGuard_ = false;
}

void MirandelLink::rebuildDeviceMenu(std::vector<DeviceRecord> snapshot) {
  // Phones announce themselves again and again; the host is only sent a new
  // menu when a name or an address in it changed.
  const bool sameMenu =
      std::equal(snapshot.begin(), snapshot.end(), devices_.begin(), devices_.end(),
                 [](const DeviceRecord& a, const DeviceRecord& b) {
                   return a.name == b.name && a.bestAddress == b.bestAddress;
                 });
  devices_ = std::move(snapshot);
  if (!sameMenu) setDeviceMenu();

  if (phoneAddress_.empty() && phoneIpText_.empty() && !devices_.empty() &&
      now() - devices_[0].firstSeen > kAutoConnectDelay) {
    deviceValue_ = 0.0f;
    RaiseParamEvent(param::kDevice, FF_EVENT_FLAG_VALUE);
    connectToPhone(devices_[0].bestAddress);
  }
}

void MirandelLink::setDeviceMenu() {
  std::vector<std::string> names;
  std::vector<float> values;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    std::string text = devices_[i].name;
    for (std::size_t j = 0; j < devices_.size(); ++j)
      if (j != i && devices_[j].name == devices_[i].name) {
        text += "  " + devices_[i].bestAddress;
        break;
      }
    names.push_back(std::move(text));
    values.push_back(static_cast<float>(i));
  }
  if (names.empty()) {
    names.push_back(text::kSearching);
    values.push_back(0.0f);
  }
  SetParamElements(param::kDevice, names, values, true);
}

}  // namespace mirandel
