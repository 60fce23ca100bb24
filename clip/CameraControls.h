#pragma once
// The phone's camera as the clip shows it: recording, zoom and the "FPS" line. Host thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/ShownTexts.h"
#include "link/ControlMessage.h"

namespace mirandel {

struct CameraControls {
  bool recording = false;
  float zoom = 0.25f;          // host level
  float lastZoomSent = -1.0f;  // factor; -1 until the host first zoomed
  Nanos lastZoomSentAt = 0;
  std::string fpsText = text::kDash;
};

// The host's zoom level: the command for the phone.
ControlMessage writeZoom(CameraControls& camera, float level, Nanos now);
// Takes the phone's status (at least seven arguments: measured and target rate, drop level,
// zoom factor, recording, recorded seconds, ...): the "FPS" line, and the zoom and the
// recording where they are news. Answers the host parameters whose values changed.
std::vector<std::uint32_t> takeCameraStatus(CameraControls& camera,
                                            const std::vector<ControlArg>& args, Nanos now);

}  // namespace mirandel
