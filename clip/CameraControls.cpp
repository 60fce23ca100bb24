#include "clip/CameraControls.h"

#include <cmath>
#include <cstdio>

#include "base/Rounding.h"
#include "clip/ClipParams.h"
#include "link/ControlCodec.h"

namespace mirandel {
namespace {
// The phone reports the zoom it has reached while it still moves towards what the host sent.
constexpr Nanos kZoomEchoWindow = 700 * kMillisecond;

std::string cameraLine(double measured, double target, double drop, double recording,
                       double recSeconds) {
  const char* health = drop >= 2   ? text::kHealthDropping
                       : drop >= 1 ? text::kHealthDegraded
                                   : text::kHealthOk;
  char rates[2][32];
  std::snprintf(rates[0], sizeof rates[0], "%.1f", measured);
  std::snprintf(rates[1], sizeof rates[1], "%.0f", target);
  if (recording == 0.0) return text::fillText(text::kCamera, {rates[0], rates[1], health});
  const std::int32_t s = truncateToInt(recSeconds).value_or(0);
  char clock[2][16];
  std::snprintf(clock[0], sizeof clock[0], "%d", s / 60);
  std::snprintf(clock[1], sizeof clock[1], "%02d", s - 60 * (s / 60));
  return text::fillText(text::kCameraRecording, {rates[0], rates[1], health, clock[0], clock[1]});
}
}  // namespace

ControlMessage writeZoom(CameraControls& camera, float level, Nanos now) {
  camera.zoom = level;
  const auto factor = static_cast<float>(scale::zoomFactor(level));
  camera.lastZoomSent = factor;
  camera.lastZoomSentAt = now;
  return {"/mirandel/zoom", {ControlArg::ofFloat(factor)}};
}

std::vector<std::uint32_t> takeCameraStatus(CameraControls& camera,
                                            const std::vector<ControlArg>& args, Nanos now) {
  double values[6] = {0.0, 30.0, 0.0, 1.0, 0.0, 0.0};
  for (std::size_t i = 0; i < 6 && i < args.size(); ++i) {
    double v;
    if (toNumber(args[i], v)) values[i] = v;
  }
  const double zoom = values[3], recording = values[4];
  std::vector<std::uint32_t> changed;

  std::string line = cameraLine(values[0], values[1], values[2], recording, values[5]);
  if (camera.fpsText != line) {
    camera.fpsText = std::move(line);
    changed.push_back(param::kFps);
  }

  const float z = static_cast<float>(zoom);
  const bool echo = camera.lastZoomSent >= 0.0f && std::fabs(z - camera.lastZoomSent) < 0.02f;
  // A zoom factor that is not a positive finite number has no level.
  if (now - camera.lastZoomSentAt >= kZoomEchoWindow && !echo && std::isfinite(z) && z > 0.0f) {
    const float level = scale::zoomLevel(z);
    if (std::fabs(level - camera.zoom) > 0.002f) {
      camera.zoom = level;
      changed.push_back(param::kZoom);
    }
  }
  const bool rec = recording != 0.0;  // NaN counts as recording
  if (rec != camera.recording) {
    camera.recording = rec;
    changed.push_back(param::kRec);
  }
  return changed;
}

}  // namespace mirandel
