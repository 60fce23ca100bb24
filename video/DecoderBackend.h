#pragma once
// The codec library's side of a decoder: open, feed, drain. DecoderCore keeps
// everything else (the key-picture gate, parameter sets, counters, sizes,
// timing and conversion), so a platform decoder only implements these calls.
// All run on the thread that feeds the decoder.
#include <cstdint>

#include "video/AccessUnit.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel {

// Receives what drain takes out of the codec library.
class PictureSink {
 public:
  // A decoded picture; the view is valid only during the call. pts is the
  // 90 kHz stamp the picture's own unit was submitted with, as the codec
  // library carried it through reordering; -1 when it has none.
  virtual void picture(const YuvPicture& view, std::int64_t pts) = 0;

 protected:
  ~PictureSink() = default;
};

class DecoderBackend {
 public:
  virtual ~DecoderBackend() = default;

  // Opens a decoder for the codec (H.264 or HEVC), closing any open one first.
  virtual bool open(CodecKind codec) = 0;

  // Releases the open decoder, if any.
  virtual void close() = 0;

  // Hands one Annex-B access unit, with its pts, to the open decoder. False
  // when the decoder rejected it.
  virtual bool submit(const AccessUnit& unit, bool key) = 0;

  // Takes out every picture that is ready. False when the decoder failed or
  // produced a picture that cannot be read as 8- or 10-bit 4:2:0.
  virtual bool drain(PictureSink& sink) = 0;

  virtual bool hardware() const = 0;
};

}  // namespace mirandel
