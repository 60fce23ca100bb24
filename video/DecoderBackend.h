#pragma once
// The codec library's side of a decoder: open, feed, drain. DecoderCore keeps
// everything else (the key-picture gate, parameter sets, counters, sizes,
// timing and conversion), so a platform decoder only implements these calls.
// All run on the thread that feeds the decoder.
#include <cstdint>
#include <string>

#include "video/AccessUnit.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel {

// A picture the backend decoded, or was asked to decode, but cannot hand on.
struct PictureRefusal {
  // Short name of a picture format a YuvPicture cannot describe, such as
  // "4:4:4", "4:2:2", "12-bit" or "monochrome"; empty when the format is not
  // the reason.
  std::string format;
  // The picture's size, 0 x 0 when unknown. A format that is fine with a size
  // over the limit (pictureSizeAllowed) is refused for its size.
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Receives what drain takes out of the codec library.
class PictureSink {
 public:
  // A decoded picture; the view is valid only during the call. pts is the
  // 90 kHz stamp the picture's own unit was submitted with, as the codec
  // library carried it through reordering; -1 when it has none.
  virtual void picture(const YuvPicture& view, std::int64_t pts) = 0;
  // A picture that cannot be handed on.
  virtual void refused(const PictureRefusal& refusal) = 0;

 protected:
  ~PictureSink() = default;
};

class DecoderBackend {
 public:
  virtual ~DecoderBackend() = default;

  // Opens a decoder for the codec (H.264 or HEVC), closing any open one first.
  // A codec library with a pixel limit of its own gets kMaxPictureArea, so
  // it never allocates the buffers of larger pictures.
  virtual bool open(CodecKind codec) = 0;

  // Why the last open failed, in a few words for the status line ("no HEVC
  // decoder"); empty when it did not fail or the library gave no reason.
  virtual std::string openFailure() const { return {}; }

  // Releases the open decoder, if any. Called on the thread that opened it
  // before that thread ends; the destructor's close then finds nothing open.
  virtual void close() = 0;

  // Hands one Annex-B access unit, with its pts, to the open decoder. False
  // when the decoder rejected it, except for a picture refused by the size
  // limit, which the next drain reports.
  virtual bool submit(const AccessUnit& unit, bool key) = 0;

  // Takes out every picture that is ready: each readable one to
  // sink.picture, each other one to sink.refused. False when the decoder
  // failed or refused a picture.
  virtual bool drain(PictureSink& sink) = 0;

  virtual bool hardware() const = 0;
};

}  // namespace mirandel
