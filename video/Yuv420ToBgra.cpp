#include "video/Yuv420ToBgra.h"

#include <algorithm>
#include <vector>

#include "video/Yuv420ToBgraSimd.h"

namespace mirandel {

namespace {

inline std::uint8_t clampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void nv12RowScalar(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                   std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint32_t c = x & ~1u;
    yuvToBgraPixel(y[x], uv[c], uv[c + 1], bgra + 4 * static_cast<std::size_t>(x));
  }
}

void i420RowScalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                   std::uint8_t* bgra, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    yuvToBgraPixel(y[x], u[x / 2], v[x / 2], bgra + 4 * static_cast<std::size_t>(x));
  }
}

void nv12RowsScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                    std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  nv12RowScalar(y0, uv, out0, width);
  if (y1 != nullptr) nv12RowScalar(y1, uv, out1, width);
}

void i420RowsScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                    const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                    std::uint32_t width) {
  i420RowScalar(y0, u, v, out0, width);
  if (y1 != nullptr) i420RowScalar(y1, u, v, out1, width);
}

SimdLevel detectSimdLevel() {
#if MIRANDEL_HAVE_X86_SIMD
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::kSse2;
#endif
  return SimdLevel::kScalar;
}

}  // namespace

void yuvToBgraPixel(int y, int u, int v, std::uint8_t* bgra) {
  const int c = (y - 16) * 298;
  const int d = u - 128;
  const int e = v - 128;
  // Arithmetic right shifts round toward minus infinity, as the rule requires.
  bgra[0] = clampByte((c + 541 * d + 128) >> 8);
  bgra[1] = clampByte((c - 55 * d - 136 * e + 128) >> 8);
  bgra[2] = clampByte((c + 459 * e + 128) >> 8);
  bgra[3] = 255;
}

SimdLevel bestSimdLevel() {
  static const SimdLevel level = detectSimdLevel();
  return level;
}

Nv12RowsFn nv12RowsFunction(SimdLevel level) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kSse2:
      return &simd::nv12RowsSse2;
    case SimdLevel::kAvx2:
      return &simd::nv12RowsAvx2;
#endif
    case SimdLevel::kScalar:
      return &nv12RowsScalar;
    default:
      return nullptr;
  }
}

I420RowsFn i420RowsFunction(SimdLevel level) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kSse2:
      return &simd::i420RowsSse2;
    case SimdLevel::kAvx2:
      return &simd::i420RowsAvx2;
#endif
    case SimdLevel::kScalar:
      return &i420RowsScalar;
    default:
      return nullptr;
  }
}

void convertToBgra(const YuvPicture& p, std::uint8_t* dst, std::size_t dstStride) {
  static const Nv12RowsFn nv12 = nv12RowsFunction(bestSimdLevel());
  static const I420RowsFn i420 = i420RowsFunction(bestSimdLevel());
  const bool interleaved = p.layout == ChromaLayout::kInterleaved;
  for (std::uint32_t r = 0; r < p.height; r += 2) {
    const std::size_t cr = r / 2;
    const std::uint8_t* y0 = p.y + r * p.yStride;
    std::uint8_t* out0 = dst + r * dstStride;
    // The last row of an odd height goes alone.
    const bool pair = r + 1 < p.height;
    const std::uint8_t* y1 = pair ? y0 + p.yStride : nullptr;
    std::uint8_t* out1 = pair ? out0 + dstStride : nullptr;
    if (interleaved) {
      nv12(y0, y1, p.u + cr * p.uStride, out0, out1, p.width);
    } else {
      i420(y0, y1, p.u + cr * p.uStride, p.v + cr * p.vStride, out0, out1, p.width);
    }
  }
}

void convertToBgraScaled(const YuvPicture& p, std::uint32_t outWidth, std::uint32_t outHeight,
                         std::uint8_t* dst) {
  if (outWidth == p.width && outHeight == p.height) {
    convertToBgra(p, dst, static_cast<std::size_t>(outWidth) * 4);
    return;
  }
  // Source column of each output column, computed once per picture.
  std::vector<std::uint32_t> columns(outWidth);
  for (std::uint32_t x = 0; x < outWidth; ++x) {
    columns[x] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(x) * p.width / outWidth);
  }
  const bool interleaved = p.layout == ChromaLayout::kInterleaved;
  for (std::uint32_t oy = 0; oy < outHeight; ++oy) {
    const std::size_t sy = static_cast<std::uint64_t>(oy) * p.height / outHeight;
    const std::uint8_t* yRow = p.y + sy * p.yStride;
    const std::uint8_t* uRow = p.u + (sy / 2) * p.uStride;
    const std::uint8_t* vRow = interleaved ? nullptr : p.v + (sy / 2) * p.vStride;
    std::uint8_t* out = dst + static_cast<std::size_t>(oy) * outWidth * 4;
    for (std::uint32_t ox = 0; ox < outWidth; ++ox) {
      const std::uint32_t sx = columns[ox];
      int u;
      int v;
      if (interleaved) {
        u = uRow[sx & ~1u];
        v = uRow[(sx & ~1u) + 1];
      } else {
        u = uRow[sx / 2];
        v = vRow[sx / 2];
      }
      yuvToBgraPixel(yRow[sx], u, v, out + 4 * static_cast<std::size_t>(ox));
    }
  }
}

}  // namespace mirandel
