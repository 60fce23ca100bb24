#include "clip/MirandelLink.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "base/Log.h"
#include "base/Rounding.h"
#include "clip/TextBuffer.h"
#include "link/LinkHub.h"

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
  resetSlots(rack_, *this);
  for (std::uint32_t i :
       {param::kEffect, param::kRec, param::kSnap, param::kFlipCamera, param::kZoom, param::kFps})
    SetParamVisibility(i, false, false);

  // The wake-up runs on the network worker: it only raises one atomic event
  // bit, so the host soon reads "Status" and thereby runs the supervision step.
  session_.subscriptionId =
      link_->subscribe([this] { RaiseParamEvent(param::kStatus, FF_EVENT_FLAG_VALUE); });
  link_->setSearching(session_.subscriptionId, true);
  discovery_.lastProbeAt = now();
  hostLog("Mirandel: created, probing for phones");
}

MirandelLink::~MirandelLink() {
  // No picture and no wake-up may reach the clip once it is being destroyed;
  // unsubscribe returns only when no wake-up of ours is running.
  video_.stop();
  link_->unsubscribe(session_.subscriptionId);
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

  // The rack's generic slots, in host order; each kind has its own type.
  for (const SlotDefinition& d : slotDefinitions()) {
    const char* name = d.name.c_str();
    switch (d.ref.kind) {
      case SlotKind::Slider:
        SetParamInfo(d.hostIndex, name, FF_TYPE_STANDARD, 0.0f);
        break;
      case SlotKind::Toggle:
        SetParamInfo(d.hostIndex, name, FF_TYPE_BOOLEAN, false);
        break;
      case SlotKind::Option:
        SetOptionParamInfo(d.hostIndex, name, 1, 0.0f);
        SetParamElementInfo(d.hostIndex, 0, text::kDash, 0.0f);
        break;
      case SlotKind::Action:
        SetParamInfo(d.hostIndex, name, FF_TYPE_EVENT, 0.0f);
        break;
      case SlotKind::None:
        break;
    }
  }
  for (std::uint32_t i = param::kOption1; i <= param::kAction1 + 3; ++i)
    SetParamGroup(i, kGroupTune);

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
  const PictureSettings& picture = stream_.settings();
  renderer_.draw(frameSlot_, CurrentViewport(), picture.fitMode, picture.grainAmount);
  return FF_SUCCESS;
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
