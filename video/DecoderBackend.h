#pragma once
// The codec library's side of a decoder: open, feed, drain. DecoderCore keeps
// everything else (the key-picture gate, parameter sets, counters, sizes and
// conversion), so a platform decoder only implements these calls. All run on
// the thread that feeds the decoder.
#include <functional>

#include "video/AccessUnit.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel {

class DecoderBackend {
 public:
  // Receives each decoded picture during drain; the view is valid only
  // during the call.
  using PictureSink = std::function<void(const YuvPicture&)>;

  virtual ~DecoderBackend() = default;

  // Opens a decoder for the codec (H.264 or HEVC), closing any open one first.
  virtual bool open(CodecKind codec) = 0;

  // Releases the open decoder, if any.
  virtual void close() = 0;

  // Hands one Annex-B access unit to the open decoder.
  virtual bool submit(const AccessUnit& unit, bool key) = 0;

  // Takes out every picture that is ready. False when the decoder failed or
  // produced a picture that cannot be read as 8-bit 4:2:0.
  virtual bool drain(const PictureSink& sink) = 0;

  virtual bool hardware() const = 0;
};

}  // namespace mirandel
