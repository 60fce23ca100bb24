#pragma once
// The decoder seam: access units in, BGRA pictures out. The pipeline holds a
// Decoder; which codec library stands behind it is the platform's business.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "video/AccessUnit.h"

namespace mirandel {

// One decoded picture, handed to onFrame by const reference. The pixels belong
// to the decoder and stay valid only during the onFrame call. The stamps are
// those of the unit the picture was decoded from, which with reordered
// (B-)pictures is not the unit whose decode call delivers it.
struct Frame {
  const std::uint8_t* data = nullptr;  // top row first; B, G, R, A (A always 255)
  std::uint64_t stride = 0;            // bytes per row, width * 4
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int64_t pts = -1;  // the unit's 90 kHz PTS, -1 when none
  Nanos decodedAt = 0;    // when the picture had been converted
  Nanos receivedAt = 0;   // the unit's completedAt
};

struct DecoderInfo {
  std::uint64_t framesOut = 0;  // decode calls that delivered at least one picture
  std::uint64_t errors = 0;     // decode calls that failed
  std::uint64_t skipped = 0;    // units not submitted (no picture, no parameter sets, no key yet)
  // Of the skipped units, those lost to damage: units marked corrupt, and pictures that came
  // while waiting for a key picture (at the start, after a corrupt or discontinuous unit, or
  // after a failure).
  std::uint64_t dropped = 0;
  double lastDecodeMs = 0;  // last submitted decode call, entry to end of draining
  std::uint32_t outputWidth = 0;
  std::uint32_t outputHeight = 0;
  bool hardware = false;
  // While the stream's pictures are refused, or no decoder for it opens, why,
  // in words for the status line: "unsupported picture format: 4:4:4",
  // "picture too large: 9000x8000", "no HEVC decoder". Empty again once a
  // picture is delivered or a decoder opens, and after reset.
  std::string refusal;
};

using FrameCallback = std::function<void(const Frame&)>;

class Decoder {
 public:
  virtual ~Decoder() = default;

  // Receive thread. Decodes one unit; pictures go to onFrame before it returns.
  // Units marked corrupt are never submitted; after one, after a unit marked
  // discontinuity and after a failure, nothing is until a key picture. True
  // when the unit was submitted or deliberately skipped, false when decoding
  // failed.
  virtual bool decode(AccessUnit& unit, CodecKind codec) = 0;

  // Receive thread. Forgets the codec and the parameter sets, and releases
  // the codec library's decoder; the next submitted unit must be a key
  // picture. The pipeline calls it at the end of each session, so that the
  // library's decoder is made and released on the same thread.
  virtual void reset() = 0;

  // Before the receive thread starts (or on it). Limits the larger side of the
  // delivered pictures to n pixels; 0 means no limit.
  virtual void setMaxDimension(std::uint32_t n) = 0;

  // Any thread.
  virtual DecoderInfo info() const = 0;
};

// The platform's decoder (libavcodec on Linux, Media Foundation on Windows).
// The clock stamps decodedAt and times decode calls.
std::unique_ptr<Decoder> makeDecoder(FrameCallback onFrame, ClockFn clock = steadyClock());

}  // namespace mirandel
