#pragma once
// Picture sizes and layouts that every decoder implementation shares:
// checking what a codec library hands back before touching its buffers, and
// the output-size rule. Any thread.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "video/Yuv420ToBgra.h"

namespace mirandel {

// Larger sides than this are refused as implausible (and keep every size
// product well inside 64 bits).
inline constexpr std::uint32_t kMaxPictureSide = 16384;

// Larger pictures are refused: at 16384 x 16384 a picture is 1 GiB of BGRA,
// held three times (decoder, frame slot, upload) in the host's process.
inline constexpr std::uint64_t kMaxPictureArea = std::uint64_t{8192} * 8192;

// Whether a picture of this size is taken: both sides within
// 1..kMaxPictureSide and the area within kMaxPictureArea.
bool pictureSizeAllowed(std::uint32_t width, std::uint32_t height);

// Whether the view can be read whole: sizes within 1..kMaxPictureSide, a bit
// depth of 8 or 10, planes present, and every stride at least as wide as its
// row.
bool pictureIsReadable(const YuvPicture& picture);

// An NV12 or P010 buffer as a platform decoder describes it: a luma plane of
// planeHeight rows (0: height) followed by the interleaved chroma plane, both
// `pitch` bytes per row, with the visible width x height area at (cropX, cropY)
// in pixels.
struct Nv12Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t planeHeight = 0;
  std::uint32_t cropX = 0;
  std::uint32_t cropY = 0;
  std::size_t pitch = 0;
  std::uint8_t bitDepth = 8;  // 8: NV12 bytes; 10: P010 words, the value in the high bits
};

// The view of the visible area (limited range; the caller sets the range it
// knows), or nothing when the layout does not fit in `length` bytes (or is
// otherwise unreadable). Chroma is read from row planeHeight on, whatever the
// visible height.
std::optional<YuvPicture> nv12Picture(const std::uint8_t* base, std::size_t length,
                                      const Nv12Layout& layout);

struct OutputSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const OutputSize&) const = default;
};

// The delivered size of a width x height picture when the larger side may be
// at most maxDimension (0: no limit): scaled, rounded to nearest, then down to
// even. Either side may come out 0, and then nothing is delivered.
OutputSize outputSize(std::uint32_t width, std::uint32_t height, std::uint32_t maxDimension);

}  // namespace mirandel
