#pragma once
// 8-bit YUV 4:2:0 (NV12 or planar I420) to BGRA with the integer BT.709
// limited-range rule, for any thread:
//   c = (Y - 16) * 298, d = U - 128, e = V - 128
//   R = (c + 459 e + 128) >> 8, G = (c - 55 d - 136 e + 128) >> 8,
//   B = (c + 541 d + 128) >> 8, each clamped to 0..255, A = 255.
// Each chroma sample covers a 2 x 2 block of luma samples (no filtering).
// The SIMD rows are bit-exact with the scalar reference rows.
#include <cstddef>
#include <cstdint>

namespace mirandel {

enum class ChromaLayout : std::uint8_t {
  kInterleaved,  // NV12: one plane of U, V byte pairs
  kPlanar,       // I420: separate U and V planes
};

// A view of one 4:2:0 picture; the origins point at the first visible sample
// (cropping already applied). Chroma planes hold (width + 1) / 2 samples per
// row and (height + 1) / 2 rows.
struct YuvPicture {
  ChromaLayout layout = ChromaLayout::kInterleaved;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  const std::uint8_t* y = nullptr;
  std::size_t yStride = 0;
  const std::uint8_t* u = nullptr;  // the UV plane for NV12
  std::size_t uStride = 0;
  const std::uint8_t* v = nullptr;  // planar only
  std::size_t vStride = 0;
};

// One pixel by the rule; the reference everything else is held to.
void yuvToBgraPixel(int y, int u, int v, std::uint8_t* bgra);

// Row kernels: `width` pixels from one or two luma rows that share a chroma
// row (the two rows of a 4:2:0 row pair share its chroma work). With y1 and
// out1 null only the first row is converted.
using Nv12RowsFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                            std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
using I420RowsFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                            const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                            std::uint32_t width);

enum class SimdLevel : std::uint8_t { kScalar, kSse2, kAvx2 };

// The best level this CPU and build support.
SimdLevel bestSimdLevel();

// Row functions of one level; nullptr when this CPU or build lacks it. Each
// handles any width (the SIMD rows finish the tail with the scalar rule) and
// reads no byte past a row's last sample.
Nv12RowsFn nv12RowsFunction(SimdLevel level);
I420RowsFn i420RowsFunction(SimdLevel level);

// Whole picture at its own size, with the best row functions. dst receives
// height rows of width * 4 bytes, dstStride apart.
void convertToBgra(const YuvPicture& picture, std::uint8_t* dst, std::size_t dstStride);

// Whole picture sampled to outWidth x outHeight by nearest neighbour
// (source row y * height / outHeight, column x * width / outWidth); dst is
// tightly packed (outWidth * 4 bytes per row). Equal sizes fall back to
// convertToBgra.
void convertToBgraScaled(const YuvPicture& picture, std::uint32_t outWidth, std::uint32_t outHeight,
                         std::uint8_t* dst);

}  // namespace mirandel
