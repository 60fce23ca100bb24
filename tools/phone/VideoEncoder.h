#pragma once
// The emulator's encoder: libavcodec with libx264 or libx265 set up like a phone's live
// encoder (zero latency, no B-pictures, parameter sets repeated before every key picture).
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/phone/TestPattern.h"
#include "video/AccessUnit.h"

namespace mirandel::phone {

struct EncoderOptions {
  CodecKind codec = kCodecH264;
  int width = 640;   // even
  int height = 360;  // even
  int fps = 30;
  int bitrateKbps = 2000;
  int keyInterval = 30;  // pictures between key pictures
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

 private:
  struct Av;
  EncoderOptions options_;
  std::unique_ptr<Av> av_;
};

}  // namespace mirandel::phone
