// The clip's session with its phone: connecting, describe requests, commands
// and every message the phone sends. Host thread only.
#include <cmath>
#include <cstdio>

#include "clip/MirandelLink.h"
#include "base/Rounding.h"
#include "link/ControlCodec.h"
#include "base/Log.h"

namespace mirandel {
namespace {

constexpr const char* kPrefix = "/mirandel/";
constexpr std::size_t kPrefixLength = 10;
constexpr Nanos kZoomEchoWindow = 700 * kMillisecond;
constexpr Nanos kSliderEchoWindow = 500 * kMillisecond;

bool number(const ControlArg& arg, double& out) { return toNumber(arg, out); }

}  // namespace

void MirandelLink::connectToPhone(const std::string& address) {
  if (address.empty()) return;
  phoneAddress_ = address;
  grainAmount_ = 0.0f;
  link_->setSearching(subscriptionId_, false);
  effects_.clear();
  rackIndex_.rebuild(effects_);
  currentEffect_ = -1;
  resetSlots();
  statusText_ = text::fillText(text::kConnectingTo, {address});
  RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE);
  requestDescribe();
  sendCommand("/mirandel/stream/quality");
  hostLog("Mirandel: describe " + address);
}

void MirandelLink::requestDescribe() {
  if (phoneAddress_.empty()) return;
  lastDescribeAt_ = now();
  if (effects_.empty()) {
    sendCommand("/mirandel/describe", {ControlArg::ofText("rack"), ControlArg::ofInt(900)});
    return;
  }
  int sent = 0;
  for (const RackEffect& e : effects_) {
    if (e.controlsLoaded) continue;
    sendCommand("/mirandel/describe", {ControlArg::ofText(e.address), ControlArg::ofInt(900)});
    if (++sent == 4) break;
  }
}

void MirandelLink::sendCommand(const std::string& address, std::vector<ControlArg> args) {
  if (phoneAddress_.empty()) return;
  link_->sendTo(phoneAddress_, ControlMessage{address, std::move(args)});
}

void MirandelLink::dispatchIncoming(const IncomingMessage& m) {
  const std::string& a = m.address;
  double v = 0.0;
  if (a == "/mirandel/here") {
    // Anyone can send these, in any number: the table is looked at once per
    // step, which already holds every phone the worker filed before queueing.
    if (!devicesSeenThisStep_) {
      devicesSeenThisStep_ = true;
      rebuildDeviceMenu(link_->listDevices());
    }
    return;
  }
  if (m.sender != phoneAddress_) return;

  if (a == "/mirandel/describe") {
    if (!m.args.empty() && m.args[0].kind == ArgKind::String) handleDescribeReply(m.args[0].text);
    return;
  }
  if (a == "/mirandel/describe/part" && m.args.size() >= 4) {
    handleDescribePart(m);
    return;
  }
  if (a == "/mirandel/patch" && !m.args.empty() && number(m.args[0], v)) {
    const auto i = truncateToInt(v);
    if (!i || *i < 0 || *i >= static_cast<std::int32_t>(effects_.size()) || *i == currentEffect_)
      return;
    feedbackGuard_ = true;
    effectValue_ = static_cast<float>(*i);
    RaiseParamEvent(param::kEffect, FF_EVENT_FLAG_VALUE);
    applyEffect(*i, false);
    feedbackGuard_ = false;
    return;
  }
  if (a == "/mirandel/status" && m.args.size() >= 7) {
    handleStatus(m);
    return;
  }
  if (a == "/mirandel/stream/grain/add" && !m.args.empty() && number(m.args[0], v)) {
    // A grain amount that is not a finite number would poison every pixel.
    if (std::isfinite(v)) grainAmount_ = v < 0.0 ? 0.0f : static_cast<float>(v);
    return;
  }
  if (a == "/mirandel/stream/quality" && !m.args.empty() && number(m.args[0], v)) {
    const auto q = truncateToInt(v);
    if (!q) return;
    // Only 0..2 name a quality; anything outside is the nearest one.
    const std::int32_t clamped = std::clamp(*q, 0, 2);
    if (clamped != quality_) {
      quality_ = clamped;
      RaiseParamEvent(param::kQuality, FF_EVENT_FLAG_VALUE);
    }
    return;
  }
  if (a == "/mirandel/rec" && !m.args.empty() && number(m.args[0], v)) {
    recording_ = v != 0.0;
    RaiseParamEvent(param::kRec, FF_EVENT_FLAG_VALUE);
    return;
  }
  handleControlFeedback(m);
}

void MirandelLink::handleDescribePart(const IncomingMessage& m) {
  double id = 0, total = 0, index = 0;
  if (!number(m.args[0], id) || !number(m.args[1], total) || !number(m.args[2], index) ||
      m.args[3].kind != ArgKind::String)
    return;
  const auto i = truncateToInt(id), t = truncateToInt(total), k = truncateToInt(index);
  if (!i || !t || !k) return;
  if (auto text = parts_.add(*i, *t, *k, m.args[3].text, now())) handleDescribeReply(*text);
}

void MirandelLink::handleStatus(const IncomingMessage& m) {
  double values[6] = {0.0, 30.0, 0.0, 1.0, 0.0, 0.0};
  for (int i = 0; i < 6; ++i) {
    double v;
    if (number(m.args[i], v)) values[i] = v;
  }
  const double measured = values[0], target = values[1], drop = values[2], zoom = values[3],
               recording = values[4], recSeconds = values[5];
  const char* health = drop >= 2   ? text::kHealthDropping
                       : drop >= 1 ? text::kHealthDegraded
                                   : text::kHealthOk;

  char rates[2][32];
  std::snprintf(rates[0], sizeof rates[0], "%.1f", measured);
  std::snprintf(rates[1], sizeof rates[1], "%.0f", target);
  std::string line;
  if (recording == 0.0) {
    line = text::fillText(text::kCamera, {rates[0], rates[1], health});
  } else {
    const std::int32_t s = truncateToInt(recSeconds).value_or(0);
    char clock[2][16];
    std::snprintf(clock[0], sizeof clock[0], "%d", s / 60);
    std::snprintf(clock[1], sizeof clock[1], "%02d", s - 60 * (s / 60));
    line = text::fillText(text::kCameraRecording, {rates[0], rates[1], health, clock[0], clock[1]});
  }
  if (fpsText_ != line) {
    fpsText_ = std::move(line);
    RaiseParamEvent(param::kFps, FF_EVENT_FLAG_VALUE);
  }

  feedbackGuard_ = true;
  const float z = static_cast<float>(zoom);
  const bool echo = lastZoomSent_ >= 0.0f && std::fabs(z - lastZoomSent_) < 0.02f;
  // A zoom factor that is not a positive finite number has no level.
  if (now() - lastZoomSentAt_ >= kZoomEchoWindow && !echo && std::isfinite(z) && z > 0.0f) {
    const float level = scale::zoomLevel(z);
    if (std::fabs(level - zoom_) > 0.002f) {
      zoom_ = level;
      RaiseParamEvent(param::kZoom, FF_EVENT_FLAG_VALUE);
    }
  }
  const bool rec = recording != 0.0;  // NaN counts as recording
  if (rec != recording_) {
    recording_ = rec;
    RaiseParamEvent(param::kRec, FF_EVENT_FLAG_VALUE);
  }
  feedbackGuard_ = false;
}

void MirandelLink::handleControlFeedback(const IncomingMessage& m) {
  if (m.address.compare(0, kPrefixLength, kPrefix) != 0 || m.args.empty()) return;
  const std::string rest = m.address.substr(kPrefixLength);
  const std::size_t slash = rest.find('/');
  if (rest.empty() || slash == std::string::npos) return;
  const std::string effectPart = rest.substr(0, slash);
  std::string fieldPart;
  for (char c : rest.substr(slash + 1))
    if (c != '/') fieldPart += c;

  const std::optional<RackIndex::ControlRef> found = rackIndex_.find(effectPart, fieldPart);
  if (!found) return;
  const std::int32_t effectIndex = found->effect, controlIndex = found->control;

  RackEffect& effect = effects_[effectIndex];
  RackControl& control = effect.controls[controlIndex];
  const ControlArg& arg = m.args[0];
  double v = 0.0;
  bool optionChanged = false;
  if (control.type == "bool") {
    control.boolValue = number(arg, v) && v != 0.0;
  } else if (control.type == "option") {
    if (arg.kind == ArgKind::String) {
      optionChanged = control.optionValue != arg.text;
      control.optionValue = arg.text;
    }
  } else if (number(arg, v) && !std::isnan(v)) {
    control.normalized = limitPosition(v);
  }

  if (effectIndex != currentEffect_) return;
  if (control.type == "option" && optionChanged && rackIndex_.namesMode(effectIndex, control.field))
    relayoutRequested_ = true;

  feedbackGuard_ = true;
  const Nanos t = now();
  for (SliderSlot& s : sliders_) {
    if (s.control != controlIndex) continue;
    const float value = static_cast<float>(control.normalized);
    if (s.lastSent >= 0.0f &&
        (std::fabs(value - s.lastSent) < 0.004f || t - s.lastSentAt < kSliderEchoWindow))
      continue;
    s.value = value;
    RaiseParamEvent(s.hostIndex, FF_EVENT_FLAG_VALUE);
  }
  for (ToggleSlot& tg : toggles_) {
    if (tg.control != controlIndex) continue;
    tg.value = control.boolValue;
    RaiseParamEvent(tg.hostIndex, FF_EVENT_FLAG_VALUE);
  }
  if (option_.control == controlIndex) {
    float position = 0.0f;
    for (std::size_t k = 0; k < control.optionList.size(); ++k)
      if (control.optionList[k] == control.optionValue) {
        position = static_cast<float>(k);
        break;
      }
    option_.value = position;
    RaiseParamEvent(option_.hostIndex, FF_EVENT_FLAG_VALUE);
  }
  feedbackGuard_ = false;
}

}  // namespace mirandel
