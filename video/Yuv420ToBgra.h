#pragma once
// YUV 4:2:0 to 8-bit BGRA by the picture's colour description, for any
// thread.
//
// Pictures with BT.709 primaries and an SDR transfer (BT.709, BT.601 or
// BT.2020 matrix) go through the integer matrix rule. For 8-bit limited-range
// BT.709 (the phone's stream):
//   c = (Y - 16) * 298, d = U - 128, e = V - 128
//   R = (c + 459 e + 128) >> 8, G = (c - 55 d - 136 e + 128) >> 8,
//   B = (c + 541 d + 128) >> 8, each clamped to 0..255, A = 255.
// Other matrices, depths and full range use the same form with the constants
// of yuvRule(); 10-bit limited-range samples that are four times 8-bit ones
// give exactly the 8-bit result.
//
// Pictures with BT.2020 primaries or an HDR transfer go through linear light
// (LinearLight.h): R'G'B' by the matrix, each channel to display light by a
// table, BT.2020 primaries to BT.709's, then back to BT.709 SDR by a table.
//
// Each chroma sample covers a 2 x 2 block of luma samples (no filtering).
// The SIMD rows are bit-exact with the scalar rows.
#include <cstddef>
#include <cstdint>

#include "video/ColorSpace.h"

namespace mirandel {

enum class ChromaLayout : std::uint8_t {
  kInterleaved,  // NV12 / P010: one plane of U, V sample pairs
  kPlanar,       // I420: separate U and V planes
};

// Where a sample wider than 8 bits sits in its 16-bit little-endian word.
enum class SampleAlignment : std::uint8_t {
  kLow,   // libavcodec's yuv420p10le: the value as is, high bits zero
  kHigh,  // P010 (platform decoders): the value shifted to the top bits
};

// A view of one 4:2:0 picture; the origins point at the first visible sample
// (cropping already applied). Chroma planes hold (width + 1) / 2 samples per
// row and (height + 1) / 2 rows. Strides are in bytes.
struct YuvPicture {
  ChromaLayout layout = ChromaLayout::kInterleaved;
  std::uint8_t bitDepth = 8;                          // 8: one byte per sample; 10: one 16-bit word
  SampleAlignment alignment = SampleAlignment::kLow;  // for bitDepth 10
  ColorRange range = ColorRange::kLimited;
  ColorMatrix matrix = ColorMatrix::kBt709;
  ColorTransfer transfer = ColorTransfer::kSdr;
  ColorPrimaries primaries = ColorPrimaries::kBt709;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  const std::uint8_t* y = nullptr;
  std::size_t yStride = 0;
  const std::uint8_t* u = nullptr;  // the UV plane for NV12
  std::size_t uStride = 0;
  const std::uint8_t* v = nullptr;  // planar only
  std::size_t vStride = 0;
};

// The constants of the rule for one bit depth and range:
//   c = (Y - yOffset) * luma, d = U - chromaCentre, e = V - chromaCentre
//   R = (c + vr e + round) >> shift, G = (c - ug d - vg e + round) >> shift,
//   B = (c + ub d + round) >> shift, round = 1 << (shift - 1).
struct YuvRule {
  std::int32_t luma, vr, ug, vg, ub;
  std::int32_t yOffset, chromaCentre;
  std::uint32_t shift;
};

// bitDepth 8 or 10.
YuvRule yuvRule(std::uint32_t bitDepth, ColorRange range, ColorMatrix matrix = ColorMatrix::kBt709);

// The colour description of a picture, gathered.
inline ColorSpace colorSpaceOf(const YuvPicture& p) {
  return {p.matrix, p.transfer, p.primaries, p.range};
}
inline void setColorSpace(YuvPicture& p, const ColorSpace& s) {
  p.matrix = s.matrix;
  p.transfer = s.transfer;
  p.primaries = s.primaries;
  p.range = s.range;
}

// Whether the picture goes through linear light rather than the matrix rule.
inline bool needsLinearLight(const YuvPicture& p) {
  return p.transfer != ColorTransfer::kSdr || p.primaries != ColorPrimaries::kBt709;
}

// One pixel by the 8-bit limited-range BT.709 rule; the reference the SIMD
// rows are held to.
void yuvToBgraPixel(int y, int u, int v, std::uint8_t* bgra);

// One pixel by any rule; samples are the plain values (already moved down
// from the high bits), never above the depth's maximum.
void yuvToBgraPixel(const YuvRule& rule, int y, int u, int v, std::uint8_t* bgra);

// The 8-bit rule of one range and matrix, made once.
template <bool kFull, ColorMatrix kMatrix>
inline const YuvRule& yuvRule8() {
  static const YuvRule rule = yuvRule(8, kFull ? ColorRange::kFull : ColorRange::kLimited, kMatrix);
  return rule;
}

// One 8-bit pixel by the rule of one range and matrix: what the scalar rows
// and the SIMD rows' tails compute.
template <bool kFull, ColorMatrix kMatrix = ColorMatrix::kBt709>
inline void yuvToBgraPixel8(int y, int u, int v, std::uint8_t* bgra) {
  if constexpr (!kFull && kMatrix == ColorMatrix::kBt709) {
    yuvToBgraPixel(y, u, v, bgra);
  } else {
    yuvToBgraPixel(yuvRule8<kFull, kMatrix>(), y, u, v, bgra);
  }
}

// Row kernels: `width` pixels from one or two luma rows that share a chroma
// row (the two rows of a 4:2:0 row pair share its chroma work). With y1 and
// out1 null only the first row is converted.
using Nv12RowsFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                            std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
using I420RowsFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                            const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                            std::uint32_t width);
// 10-bit rows `row` and `row + 1` of the picture (out1 null: `row` alone),
// any layout, range and matrix; also the linear-light rows, for any depth.
using WideRowsFn = void (*)(const YuvPicture& picture, std::uint32_t row, std::uint8_t* out0,
                            std::uint8_t* out1);

enum class SimdLevel : std::uint8_t { kScalar, kSse2, kAvx2 };

// The best level this CPU and build support.
SimdLevel bestSimdLevel();

// 8-bit row functions of one level, range and matrix; nullptr when this CPU
// or build lacks the level. Each handles any width (the SIMD rows finish the
// tail with the scalar rule) and reads no byte past a row's last sample.
Nv12RowsFn nv12RowsFunction(SimdLevel level, ColorRange range = ColorRange::kLimited,
                            ColorMatrix matrix = ColorMatrix::kBt709);
I420RowsFn i420RowsFunction(SimdLevel level, ColorRange range = ColorRange::kLimited,
                            ColorMatrix matrix = ColorMatrix::kBt709);
// 10-bit rows by the matrix rule: scalar, and AVX2 when the CPU has it (none
// for SSE2).
WideRowsFn wideRowsFunction(SimdLevel level);
// Linear-light rows, 8- or 10-bit: scalar, and AVX2 when the CPU has it.
WideRowsFn linearRowsFunction(SimdLevel level);

// Whole picture at its own size, with the best row functions for its format
// and colour description. dst receives
// height rows of width * 4 bytes, dstStride apart.
void convertToBgra(const YuvPicture& picture, std::uint8_t* dst, std::size_t dstStride);

// Whole picture sampled to outWidth x outHeight by nearest neighbour
// (source row y * height / outHeight, column x * width / outWidth); dst is
// tightly packed (outWidth * 4 bytes per row). Equal sizes fall back to
// convertToBgra.
void convertToBgraScaled(const YuvPicture& picture, std::uint32_t outWidth, std::uint32_t outHeight,
                         std::uint8_t* dst);

}  // namespace mirandel
