#include "clip/StreamControl.h"

#include <cstdio>

#include "clip/ClipParams.h"
#include "video/StreamUrl.h"

namespace mirandel {
namespace {
constexpr Nanos kGrainRequestInterval = 5 * kSecond;
constexpr Nanos kStreamRequestInterval = 4 * kSecond;
// A link that went down after pictures came may be a phone application that restarted, and
// one streams only when asked: it is asked every second until the link is back.
constexpr Nanos kStreamRequestIntervalLinkLost = kSecond;
// A phone application may also keep its SRT listener open from launch and stream only once
// asked; after it restarts the clip may be connected to it again before any request got
// through, so a connection is no sign of a stream. Asked while connected and without a
// picture for longer than this, every second.
constexpr Nanos kStreamRequestIntervalNoPicture = kSecond;
constexpr double kNoPictureBeforeAskingMs = 1000.0;
constexpr double kNoFramesAfterMs = 2000.0;

const char* codecName(CodecKind codec) {
  return codec == kCodecH264 ? "H.264" : codec == kCodecHevc ? "HEVC" : "-";
}

// Whether the phone is asked for its stream now. Every new connection asks at once: the phone
// at its other end may be waiting to be asked. Otherwise asking helps only while nothing
// arrives; a stream whose pictures the decoder refuses is arriving.
bool streamRequestDue(const StreamStats& s, bool newConnection, Nanos sinceLastRequest) {
  if (newConnection) return true;
  if (!s.decoderInfo.refusal.empty()) return false;
  if (s.connected) {
    return s.msWithoutPicture > kNoPictureBeforeAskingMs &&
           sinceLastRequest > kStreamRequestIntervalNoPicture;
  }
  return sinceLastRequest > (s.hasFrames ? kStreamRequestIntervalLinkLost : kStreamRequestInterval);
}
}  // namespace

std::vector<ControlMessage> StreamControl::step(const std::string& phone, VideoStream& video,
                                                FrameSlot& frames, Nanos now) {
  StreamConfig config;
  config.latencyMs = scale::latencyMs(settings_.latency);
  std::string why;
  const bool wanted = !phone.empty() && parseStreamUrl(phone, config.host, config.port, &why);
  // Worked out on every step, so that the first unusable address and a change from one
  // unusable address to another each show their own reason.
  if (!wanted) unusableReason_ = phone.empty() ? std::string() : why;
  const bool unchanged = wanted == active_ && (!wanted || config == config_) && !restartRequested_;
  if (!unchanged) {
    restartRequested_ = false;
    config_ = config;
    if (!wanted) {
      active_ = false;
      video.stop();
      return {};
    }
    // Active only once the pipeline runs: a start that failed stays wanted-but-inactive, so a
    // later step tries again, and the Picture line says why meanwhile.
    active_ = video.start(
        config,
        [&frames](const Frame& f) {
          frames.deliver(f.data, f.stride, f.width, f.height, f.decodedAt);
        },
        &why);
    unusableReason_ = active_ ? std::string() : text::fillText(text::kVideoCannotStart, {why});
    connectionsSeen_ = 0;
    if (!active_) return {};
  }
  if (!wanted) return {};

  std::vector<ControlMessage> requests;
  if (now - lastGrainRequestAt_ > kGrainRequestInterval) {
    lastGrainRequestAt_ = now;
    requests.push_back({"/mirandel/stream/grain", {ControlArg::ofInt(0)}});
  }
  const StreamStats stats = video.stats();
  const bool newConnection = stats.connections != connectionsSeen_;
  connectionsSeen_ = stats.connections;
  if (streamRequestDue(stats, newConnection, now - lastStreamRequestAt_)) {
    lastStreamRequestAt_ = now;
    requests.push_back({"/mirandel/stream", {ControlArg::ofInt(1)}});
  }
  return requests;
}

bool StreamControl::updatePictureLine(const VideoStream& video, const PictureRenderer& renderer) {
  std::string text;
  if (active_) {
    const StreamStats s = video.stats();
    if (s.connected && !s.decoderInfo.refusal.empty()) {
      // Pictures arrive but cannot be shown: say why.
      text = s.statusText + " \xC2\xB7 " + s.decoderInfo.refusal;
    } else if (!s.connected || !s.hasFrames) {
      text = s.statusText;
    } else {
      // The size of the picture on screen, which is what the user compares
      // this line with; 0x0 until the host first draws the clip.
      const std::uint32_t width = renderer.textureWidth(), height = renderer.textureHeight();
      char line[256];
      std::snprintf(line, sizeof line, "%ux%u %s %.0f fps \xC2\xB7 %.1f ms transport \xC2\xB7 %s%s",
                    width, height, codecName(s.codec), s.fps, s.transportMs,
                    s.decoderInfo.hardware ? "hw" : "sw",
                    s.msSinceLastFrame > kNoFramesAfterMs ? " \xC2\xB7 no frames" : "");
      text = line;
    }
  } else if (!unusableReason_.empty()) {
    // An address that names no usable stream says why instead of a bare dash.
    text = std::string(text::kDash) + " " + unusableReason_;
  } else {
    text = text::kDash;
  }
  // A picture GL would not take is not on screen, whatever the stream says;
  // that is the news until a picture is shown again.
  if (const UploadFailure& refused = renderer.uploadFailure(); refused.failed) {
    char line[96];
    if (refused.limit != 0)
      std::snprintf(line, sizeof line, "%ux%u larger than the GL limit %u", refused.width,
                    refused.height, refused.limit);
    else
      std::snprintf(line, sizeof line, "%ux%u not accepted by GL", refused.width, refused.height);
    text = line;
  }
  if (text == pictureText_) return false;
  pictureText_ = std::move(text);
  return true;
}

}  // namespace mirandel
