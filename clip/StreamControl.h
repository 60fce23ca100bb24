#pragma once
// The clip's video stream: when the pipeline runs, the requests that keep the phone
// streaming, and the "Picture" status line. Host thread.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/ShownTexts.h"
#include "clip/FrameSlot.h"
#include "clip/PictureRenderer.h"
#include "link/ControlMessage.h"
#include "video/StreamConfig.h"
#include "video/VideoStream.h"

namespace mirandel {

// How the picture is asked for and drawn: the host's choices and the phone's grain.
struct PictureSettings {
  std::int32_t fitMode = 0;
  std::int32_t quality = 1;
  float latency = 1.0f / 24.0f;  // host level
  float grainAmount = 0.0f;
};

class StreamControl {
 public:
  PictureSettings& settings() { return settings_; }
  const PictureSettings& settings() const { return settings_; }

  // Runs `video` while `phone` (empty: none) names a usable stream, delivering its pictures
  // into `frames`, and restarts it for a new configuration or a Reconnect. Answers the
  // requests the phone is due now.
  std::vector<ControlMessage> step(const std::string& phone, VideoStream& video, FrameSlot& frames,
                                   Nanos now);
  // Works the "Picture" line out anew; true when it changed.
  bool updatePictureLine(const VideoStream& video, const PictureRenderer& renderer);
  const std::string& pictureText() const { return pictureText_; }

  // The next step starts the pipeline again.
  void requestRestart() { restartRequested_ = true; }

 private:
  PictureSettings settings_;
  StreamConfig config_;
  bool active_ = false;
  bool restartRequested_ = false;
  std::string unusableReason_;
  std::string pictureText_ = text::kDash;
  Nanos lastGrainRequestAt_ = 0;
  Nanos lastStreamRequestAt_ = 0;
  std::uint64_t connectionsSeen_ = 0;  // the pipeline's connection count at the last step
};

}  // namespace mirandel
