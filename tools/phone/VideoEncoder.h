#pragma once
// The emulator's encoder: libavcodec with libx264 or libx265 set up like a phone's live
// encoder (zero latency, no B-pictures, parameter sets repeated before every key picture).
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/phone/TestPattern.h"
#include "video/AccessUnit.h"

namespace mirandel::phone {

// The colour description the stream flags in its VUI; the samples are the same test picture
// whichever it is, so a receiver that ignores the flags shows them all alike.
enum class StreamColour {
  kBt709,      // 8-bit BT.709, as the phone's own encoder flags it
  kBt601,      // 8-bit BT.601 (SMPTE 170M), as GStreamer senders and many phones below 720 lines
  kBt2020Hlg,  // BT.2020 with HLG, a phone's HDR: 10-bit samples where the encoder takes them
};

struct EncoderOptions {
  CodecKind codec = kCodecH264;
  int width = 640;   // even
  int height = 360;  // even
  int fps = 30;
  int bitrateKbps = 2000;
  int keyInterval = 30;  // pictures between key pictures
  StreamColour colour = StreamColour::kBt709;
};

struct EncodedPicture {
  std::vector<std::uint8_t> bytes;  // Annex-B
  std::int64_t pts90k = 0;
  bool key = false;
};

class VideoEncoder {
 public:
  // Throws std::runtime_error when the encoder cannot be opened.
  explicit VideoEncoder(const EncoderOptions& options);
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Encodes picture number `index`; with zero latency one coded picture comes out per picture
  // in. `forceKey` makes it a key picture (a caller just joined). Answers false on failure.
  // Stream thread only.
  bool encode(const YuvPicture& picture, std::int64_t index, bool forceKey,
              std::vector<EncodedPicture>& out);

  const EncoderOptions& options() const { return options_; }
  // Whether the samples are coded with 10 bits (each 8-bit sample times four).
  bool tenBit() const { return tenBit_; }

 private:
  bool open(bool tenBit);
  struct Av;
  EncoderOptions options_;
  std::unique_ptr<Av> av_;
  bool tenBit_ = false;
};

}  // namespace mirandel::phone
