#include "clip/MirandelLink.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/Rounding.h"
#include "clip/TextBuffer.h"
#include "link/LinkHub.h"
#include "base/Log.h"

namespace mirandel {
namespace {

constexpr const char* kGroupConnection = "Connection";
constexpr const char* kGroupPicture = "Picture";
constexpr const char* kGroupTune = "Tune";

// UTF-8 texts of the option lists: U+00B7 MIDDLE DOT.
constexpr const char* kQuality720 = "720p \xC2\xB7 8 Mb/s";
constexpr const char* kQuality1080 = "1080p \xC2\xB7 16 Mb/s";
constexpr const char* kQuality1080High = "1080p \xC2\xB7 32 Mb/s";

}  // namespace

MirandelLink::MirandelLink(ClipEnvironment env)
    : CFFGLPlugin(false),
      link_(env.link ? env.link : &LinkHub::instance()),
      clock_(std::move(env.clock)),
      video_(clock_, std::move(env.makeDecoder)) {
  SetMinInputs(0);
  SetMaxInputs(0);
  defineParameters();

  // Every generic parameter starts unbound and hidden; the host learns that
  // through one visibility event each.
  resetSlots();
  for (std::uint32_t i :
       {param::kEffect, param::kRec, param::kSnap, param::kFlipCamera, param::kZoom, param::kFps})
    SetParamVisibility(i, false, false);

  // The wake-up runs on the network worker: it only raises one atomic event
  // bit, so the host soon reads "Status" and thereby runs the supervision step.
  subscriptionId_ =
      link_->subscribe([this] { RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE); });
  link_->setSearching(subscriptionId_, true);
  lastProbeAt_ = now();
  hostLog("Mirandel: created, probing for phones");
}

MirandelLink::~MirandelLink() {
  // No picture and no wake-up may reach the clip once it is being destroyed;
  // unsubscribe returns only when no wake-up of ours is running.
  stopStream();
  link_->unsubscribe(subscriptionId_);
}

void MirandelLink::defineParameters() {
  SetOptionParamInfo(param::kDevice, "Device", 1, 0.0f);
  SetParamElementInfo(param::kDevice, 0, text::kSearching, 0.0f);
  SetParamInfo(param::kPhoneIp, "Phone IP", FF_TYPE_TEXT, "");
  SetParamInfo(param::kRescan, "Rescan", FF_TYPE_EVENT, 0.0f);
  SetParamInfo(param::kStatus, "Status", FF_TYPE_TEXT, text::kSearching);
  SetOptionParamInfo(param::kEffect, "Effect", 1, 0.0f);
  SetParamElementInfo(param::kEffect, 0, text::kDash, 0.0f);
  SetParamInfo(param::kRec, "Rec", FF_TYPE_BOOLEAN, false);
  SetParamInfo(param::kSnap, "Snap", FF_TYPE_EVENT, 0.0f);
  SetParamInfo(param::kFlipCamera, "Flip camera", FF_TYPE_EVENT, 0.0f);
  SetParamInfo(param::kZoom, "Zoom", FF_TYPE_STANDARD, 0.25f);
  SetParamInfo(param::kFps, "FPS", FF_TYPE_TEXT, text::kDash);
  for (std::uint32_t i = param::kDevice; i <= param::kStatus; ++i)
    SetParamGroup(i, kGroupConnection);

  defineRackParameters();

  SetOptionParamInfo(param::kFit, "Fit", 3, 0.0f);
  SetParamElementInfo(param::kFit, 0, "Fit", 0.0f);
  SetParamElementInfo(param::kFit, 1, "Fill", 1.0f);
  SetParamElementInfo(param::kFit, 2, "Stretch", 2.0f);
  SetOptionParamInfo(param::kQuality, "Quality", 3, 1.0f);
  SetParamElementInfo(param::kQuality, 0, kQuality720, 0.0f);
  SetParamElementInfo(param::kQuality, 1, kQuality1080, 1.0f);
  SetParamElementInfo(param::kQuality, 2, kQuality1080High, 2.0f);
  SetParamInfo(param::kLatency, "Latency", FF_TYPE_STANDARD, 1.0f / 24.0f);
  SetParamInfo(param::kReconnect, "Reconnect", FF_TYPE_EVENT, 0.0f);
  SetParamInfo(param::kPicture, "Picture", FF_TYPE_TEXT, text::kDash);
  for (std::uint32_t i = param::kFit; i <= param::kPicture; ++i) SetParamGroup(i, kGroupPicture);
}

void MirandelLink::defineRackParameters() {
  auto slider = [this](std::uint32_t index, const std::string& name, int slot) {
    SetParamInfo(index, name.c_str(), FF_TYPE_STANDARD, 0.0f);
    slotMap_[index] = {SlotKind::Slider, slot};
    sliders_[slot].hostIndex = index;
  };
  auto toggle = [this](std::uint32_t index, const std::string& name, int slot) {
    SetParamInfo(index, name.c_str(), FF_TYPE_BOOLEAN, false);
    slotMap_[index] = {SlotKind::Toggle, slot};
    toggles_[slot].hostIndex = index;
  };

  slider(param::kHero, "Hero", 0);
  for (int q = 0; q < kQuickToggles; ++q)
    toggle(param::kQuick1 + q, "Quick" + std::to_string(q + 1), q);

  SetOptionParamInfo(param::kOption1, "Option1", 1, 0.0f);
  SetParamElementInfo(param::kOption1, 0, text::kDash, 0.0f);
  slotMap_[param::kOption1] = {SlotKind::Option, 0};
  option_.hostIndex = param::kOption1;
  tuneOrder_.push_back(slotMap_[param::kOption1]);

  // Nine rows of three sliders and a switch, in the host's parameter order, so
  // the phone's layout sections fill whole rows.
  for (int k = 1; k <= 9; ++k) {
    const std::uint32_t base = 18 + 4 * k;
    for (int j = 0; j < 3; ++j) {
      const int n = 3 * k - 2 + j;
      slider(base + j, "Slot" + std::to_string(n), n);
      tuneOrder_.push_back(slotMap_[base + j]);
    }
    toggle(base + 3, "Switch" + std::to_string(k), 4 + k);
    tuneOrder_.push_back(slotMap_[base + 3]);
  }

  for (int a = 0; a < kActionSlots; ++a) {
    const std::uint32_t index = param::kAction1 + a;
    SetParamInfo(index, ("Action" + std::to_string(a + 1)).c_str(), FF_TYPE_EVENT, 0.0f);
    slotMap_[index] = {SlotKind::Action, a};
    actions_[a].hostIndex = index;
  }
  for (std::uint32_t i = param::kOption1; i <= param::kAction1 + 3; ++i)
    SetParamGroup(i, kGroupTune);
}

SlotRef MirandelLink::slotOf(std::uint32_t index) const {
  return index < slotMap_.size() ? slotMap_[index] : SlotRef{};
}

FFResult MirandelLink::InitGL(const FFGLViewportStruct* viewport) {
  if (!renderer_.init()) {
    DeInitGL();
    return FF_FAIL;
  }
  if (viewport) SetCurrentViewport(*viewport);
  // The hub queues messages for a clip only from its first drain on, so that
  // the prototype, never drawn, gathers none. A clip the host will use may be
  // given a phone before its first step: its inbox opens here, so the phone's
  // first answers are not lost.
  takeUpMessages();
  return FF_SUCCESS;
}

FFResult MirandelLink::DeInitGL() {
  renderer_.deinit();
  return FF_SUCCESS;
}

FFResult MirandelLink::ProcessOpenGL(ProcessOpenGLStruct*) {
  superviseClip();
  renderer_.draw(frameSlot_, CurrentViewport(), fitMode_, grainAmount_);
  return FF_SUCCESS;
}

float MirandelLink::GetFloatParameter(FFUInt32 index) {
  switch (index) {
    case param::kDevice:
      superviseClip();
      return deviceValue_;
    case param::kEffect:
      return effectValue_;
    case param::kRec:
      return recording_ ? 1.0f : 0.0f;
    case param::kZoom:
      return zoom_;
    case param::kFit:
      return static_cast<float>(fitMode_);
    case param::kQuality:
      return static_cast<float>(quality_);
    case param::kLatency:
      return latency_;
    default:
      break;
  }
  const SlotRef ref = slotOf(index);
  switch (ref.kind) {
    case SlotKind::Slider:
      return sliders_[ref.slot].value;
    case SlotKind::Toggle:
      return toggles_[ref.slot].value ? 1.0f : 0.0f;
    case SlotKind::Option:
      return option_.value;
    default:
      return 0.0f;
  }
}

char* MirandelLink::GetTextParameter(FFUInt32 index) {
  const std::string* text = nullptr;
  switch (index) {
    case param::kStatus:
      superviseClip();
      text = &statusText_;
      break;
    case param::kPhoneIp:
      text = &phoneIpText_;
      break;
    case param::kFps:
      text = &fpsText_;
      break;
    case param::kPicture:
      text = &pictureText_;
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
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%.2f\xC3\x97", scale::zoomFactor(zoom_));
    return displayAnswer_;
  }
  if (index == param::kLatency) {
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%d ms",
                  static_cast<int>(scale::latencyMs(latency_)));
    return displayAnswer_;
  }
  const SlotRef ref = slotOf(index);
  if (ref.kind == SlotKind::Slider) {
    std::snprintf(displayAnswer_, sizeof displayAnswer_, "%.2f",
                  static_cast<double>(sliders_[ref.slot].value));
    return displayAnswer_;
  }
  return CFFGLPlugin::GetParameterDisplay(index);
}

FFResult MirandelLink::SetTextParameter(FFUInt32 index, const char* text) {
  switch (index) {
    case param::kPhoneIp:
      phoneIpText_ = text ? text : "";
      if (!phoneIpText_.empty()) connectToPhone(phoneIpText_);
      return FF_SUCCESS;
    case param::kStatus:
    case param::kFps:
    case param::kPicture:
      return FF_SUCCESS;
    default:
      return FF_FAIL;
  }
}

FFResult createMirandelLink(CFFGLPlugin** instance) {
  if (!instance) return FF_FAIL;
  *instance = nullptr;
  try {
    *instance = new MirandelLink();
  } catch (...) {
    return FF_FAIL;
  }
  return FF_SUCCESS;
}

}  // namespace mirandel
