#pragma once
// What a sequence parameter set says about the pictures that follow it: the
// coded size, the visible area within it, the sampling and the colour
// description (range, matrix, transfer, primaries). For a
// platform decoder that tells less than the stream does (a frame size padded
// to whole macroblocks with no display area, no range). Any thread.
#include <cstdint>
#include <optional>

#include "video/AccessUnit.h"
#include "video/AnnexB.h"
#include "video/ColorSpace.h"

namespace mirandel {

struct SequenceInfo {
  // The decoded picture's size before cropping: whole macroblocks for H.264,
  // whole minimum coding blocks for HEVC (1920 x 1088 for a 1080p H.264 stream).
  std::uint32_t codedWidth = 0;
  std::uint32_t codedHeight = 0;
  // The visible area within it, after the cropping / conformance window.
  std::uint32_t cropX = 0;
  std::uint32_t cropY = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t chromaFormat = 1;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
  std::uint32_t bitDepth = 8;      // of luma
  // The VUI's video signal type; unspecified and limited when the stream omits it.
  ColorCodes color;
  bool operator==(const SequenceInfo&) const = default;
};

// Reads an H.264 (type 7) or HEVC (type 33) sequence parameter set, NAL header
// included. Nothing for any other unit, or one that is truncated or malformed.
std::optional<SequenceInfo> readSequenceInfo(const NalUnit& nal, CodecKind codec);

}  // namespace mirandel
