#pragma once
// What the output type a Media Foundation decoder transform agreed to says
// about reading its pictures: the sample format, the frame and display
// sizes, the stride, and the colour description. Windows only.
// clang-format off
#include <windows.h>
#include <mfidl.h>
// clang-format on

#include <cstdint>
#include <optional>

#include "video/ColorSpace.h"

namespace mirandel {

// The output type the transform agreed to, as far as reading its pictures
// goes.
struct OutputFormat {
  std::uint8_t bitDepth = 8;  // 8: NV12, 10: P010
  // MF_MT_FRAME_SIZE: the whole luma plane, which may include padding rows
  // (1920 x 1088 for 1080p).
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int32_t stride = 0;  // MF_MT_DEFAULT_STRIDE in bytes; 0 when not given
  // The display aperture when the transform gives one smaller than the frame.
  bool hasAperture = false;
  std::uint32_t apertureX = 0;
  std::uint32_t apertureY = 0;
  std::uint32_t apertureWidth = 0;
  std::uint32_t apertureHeight = 0;
  // MF_MT_VIDEO_NOMINAL_RANGE, when it names 0..255 or 16..235.
  std::optional<ColorRange> range;
  // MF_MT_YUV_MATRIX, MF_MT_TRANSFER_FUNCTION and MF_MT_VIDEO_PRIMARIES as
  // the stream's codes would give them, when the type names them.
  std::optional<std::uint8_t> matrix, transfer, primaries;
};

// Reads the type; bitDepth is that of the subtype taken (NV12 8, P010 10).
OutputFormat readOutputFormat(IMFMediaType& type, std::uint8_t bitDepth);

}  // namespace mirandel
