#include "video/Yuv420ToBgra.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "video/LinearLight.h"
#include "video/Yuv420ToBgraSimd.h"

namespace mirandel {

namespace {

inline std::uint8_t clampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

template <bool kFull, ColorMatrix kM>
void nv12RowScalar(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                   std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint32_t c = x & ~1u;
    yuvToBgraPixel8<kFull, kM>(y[x], uv[c], uv[c + 1], bgra + 4 * static_cast<std::size_t>(x));
  }
}

template <bool kFull, ColorMatrix kM>
void i420RowScalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                   std::uint8_t* bgra, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x) {
    yuvToBgraPixel8<kFull, kM>(y[x], u[x / 2], v[x / 2], bgra + 4 * static_cast<std::size_t>(x));
  }
}

template <bool kFull, ColorMatrix kM>
void nv12RowsScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                    std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  nv12RowScalar<kFull, kM>(y0, uv, out0, width);
  if (y1 != nullptr) nv12RowScalar<kFull, kM>(y1, uv, out1, width);
}

template <bool kFull, ColorMatrix kM>
void i420RowsScalar(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                    const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                    std::uint32_t width) {
  i420RowScalar<kFull, kM>(y0, u, v, out0, width);
  if (y1 != nullptr) i420RowScalar<kFull, kM>(y1, u, v, out1, width);
}

// ---- Every other format: scalar rows over 8-bit or 16-bit samples ----

static_assert(std::endian::native == std::endian::little,
              "16-bit samples are read as little-endian words");

// Reads one sample of a picture's planes: a byte, or a 16-bit word whose
// value may sit in the high bits.
template <bool kWide>
struct SampleReader {
  std::uint32_t shift = 0;
  std::uint32_t mask = 0xFF;

  explicit SampleReader(const YuvPicture& p)
      : shift(kWide && p.alignment == SampleAlignment::kHigh ? 16u - p.bitDepth : 0u),
        mask((1u << p.bitDepth) - 1) {}

  // Sample i of a row. Masked, so stray high bits in a decoder's buffer
  // cannot push the sums outside the rule's range.
  int operator()(const std::uint8_t* row, std::size_t i) const {
    if constexpr (!kWide) {
      return row[i];
    } else {
      std::uint16_t word;
      std::memcpy(&word, row + 2 * i, sizeof word);
      return static_cast<int>((word >> shift) & mask);
    }
  }
};

// The chroma terms of one sample, shared by its 2 x 2 luma block.
struct ChromaTerms {
  int r, g, b;
};

inline ChromaTerms chromaTerms(const YuvRule& k, int u, int v) {
  const int d = u - k.chromaCentre;
  const int e = v - k.chromaCentre;
  const int round = 1 << (k.shift - 1);
  return {k.vr * e + round, round - k.ug * d - k.vg * e, k.ub * d + round};
}

inline void storePixel(const YuvRule& k, const ChromaTerms& t, int y, std::uint8_t* bgra) {
  const int c = (y - k.yOffset) * k.luma;
  bgra[0] = clampByte((c + t.b) >> k.shift);
  bgra[1] = clampByte((c + t.g) >> k.shift);
  bgra[2] = clampByte((c + t.r) >> k.shift);
  bgra[3] = 255;
}

// U and V of chroma sample c of one chroma row.
template <bool kWide, bool kPlanar>
inline void chromaAt(const SampleReader<kWide>& read, const std::uint8_t* uRow,
                     const std::uint8_t* vRow, std::size_t c, int& u, int& v) {
  if constexpr (kPlanar) {
    u = read(uRow, c);
    v = read(vRow, c);
  } else {
    u = read(uRow, 2 * c);
    v = read(uRow, 2 * c + 1);
  }
}

// 10-bit rows r and r + 1, which share a chroma row, from an even column x0
// on; out1 null converts row r alone.
template <bool kPlanar>
void wideRows(const YuvPicture& p, std::uint32_t r, std::uint32_t x0, std::uint8_t* out0,
              std::uint8_t* out1) {
  const YuvRule k = yuvRule(p.bitDepth, p.range, p.matrix);
  const SampleReader<true> read(p);
  const std::size_t cr = r / 2;
  const std::uint8_t* y0 = p.y + r * p.yStride;
  const std::uint8_t* y1 = y0 + p.yStride;
  const std::uint8_t* uRow = p.u + cr * p.uStride;
  const std::uint8_t* vRow = kPlanar ? p.v + cr * p.vStride : nullptr;
  for (std::uint32_t x = x0; x < p.width; x += 2) {
    int u, v;
    chromaAt<true, kPlanar>(read, uRow, vRow, x / 2, u, v);
    const ChromaTerms t = chromaTerms(k, u, v);
    const bool both = x + 1 < p.width;
    storePixel(k, t, read(y0, x), out0 + 4 * std::size_t{x});
    if (both) storePixel(k, t, read(y0, x + 1), out0 + 4 * std::size_t{x} + 4);
    if (out1 != nullptr) {
      storePixel(k, t, read(y1, x), out1 + 4 * std::size_t{x});
      if (both) storePixel(k, t, read(y1, x + 1), out1 + 4 * std::size_t{x} + 4);
    }
  }
}

void wideRowsScalar(const YuvPicture& p, std::uint32_t r, std::uint8_t* out0, std::uint8_t* out1) {
  simd::wideRowsFrom(p, r, 0, out0, out1);
}

// Linear-light rows r and r + 1 (out1 null: r alone) from an even column x0
// on, any depth and layout.
template <bool kWide, bool kPlanar>
void linearRows(const YuvPicture& p, std::uint32_t r, std::uint32_t x0, std::uint8_t* out0,
                std::uint8_t* out1) {
  const LinearRule& k = linearRuleFor(p);
  const SampleReader<kWide> read(p);
  const std::size_t cr = r / 2;
  const std::uint8_t* y0 = p.y + r * p.yStride;
  const std::uint8_t* y1 = y0 + p.yStride;
  const std::uint8_t* uRow = p.u + cr * p.uStride;
  const std::uint8_t* vRow = kPlanar ? p.v + cr * p.vStride : nullptr;
  for (std::uint32_t x = x0; x < p.width; ++x) {
    int u, v;
    chromaAt<kWide, kPlanar>(read, uRow, vRow, x / 2, u, v);
    linearPixel(k, read(y0, x), u, v, out0 + 4 * std::size_t{x});
    if (out1 != nullptr) linearPixel(k, read(y1, x), u, v, out1 + 4 * std::size_t{x});
  }
}

void linearRowsScalar(const YuvPicture& p, std::uint32_t r, std::uint8_t* out0,
                      std::uint8_t* out1) {
  simd::linearRowsFrom(p, r, 0, out0, out1);
}

// Nearest-neighbour sampling; `columns` holds the source column of each
// output column.
template <bool kWide, bool kPlanar>
void anyPictureScaled(const YuvPicture& p, const std::vector<std::uint32_t>& columns,
                      std::uint32_t outHeight, std::uint8_t* dst) {
  const YuvRule rule = yuvRule(p.bitDepth, p.range, p.matrix);
  const LinearRule* linear = needsLinearLight(p) ? &linearRuleFor(p) : nullptr;
  const SampleReader<kWide> read(p);
  const std::size_t outWidth = columns.size();
  for (std::uint32_t oy = 0; oy < outHeight; ++oy) {
    const std::size_t sy = static_cast<std::uint64_t>(oy) * p.height / outHeight;
    const std::uint8_t* yRow = p.y + sy * p.yStride;
    const std::uint8_t* uRow = p.u + (sy / 2) * p.uStride;
    const std::uint8_t* vRow = kPlanar ? p.v + (sy / 2) * p.vStride : nullptr;
    std::uint8_t* out = dst + oy * outWidth * 4;
    for (std::size_t ox = 0; ox < outWidth; ++ox) {
      const std::uint32_t sx = columns[ox];
      int u, v;
      chromaAt<kWide, kPlanar>(read, uRow, vRow, sx / 2, u, v);
      if (linear != nullptr) {
        linearPixel(*linear, read(yRow, sx), u, v, out + 4 * ox);
      } else {
        storePixel(rule, chromaTerms(rule, u, v), read(yRow, sx), out + 4 * ox);
      }
    }
  }
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

YuvRule yuvRule(std::uint32_t bitDepth, ColorRange range, ColorMatrix matrix) {
  return simd::makeYuvRule(bitDepth, range, matrix);
}

void yuvToBgraPixel(const YuvRule& rule, int y, int u, int v, std::uint8_t* bgra) {
  storePixel(rule, chromaTerms(rule, u, v), y, bgra);
}

SimdLevel bestSimdLevel() {
  static const SimdLevel level = detectSimdLevel();
  return level;
}

namespace simd {

void wideRowsFrom(const YuvPicture& p, std::uint32_t r, std::uint32_t x0, std::uint8_t* out0,
                  std::uint8_t* out1) {
  p.layout == ChromaLayout::kPlanar ? wideRows<true>(p, r, x0, out0, out1)
                                    : wideRows<false>(p, r, x0, out0, out1);
}

void linearRowsFrom(const YuvPicture& p, std::uint32_t r, std::uint32_t x0, std::uint8_t* out0,
                    std::uint8_t* out1) {
  const bool planar = p.layout == ChromaLayout::kPlanar;
  if (p.bitDepth > 8) {
    planar ? linearRows<true, true>(p, r, x0, out0, out1)
           : linearRows<true, false>(p, r, x0, out0, out1);
  } else {
    planar ? linearRows<false, true>(p, r, x0, out0, out1)
           : linearRows<false, false>(p, r, x0, out0, out1);
  }
}

}  // namespace simd

WideRowsFn wideRowsFunction(SimdLevel level) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kAvx2:
      return &simd::wideRowsAvx2;
#endif
    case SimdLevel::kScalar:
      return &wideRowsScalar;
    default:
      return nullptr;
  }
}

WideRowsFn linearRowsFunction(SimdLevel level) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kAvx2:
      return &simd::linearRowsAvx2;
#endif
    case SimdLevel::kScalar:
      return &linearRowsScalar;
    default:
      return nullptr;
  }
}

namespace {

// The 8-bit rows of one level for every range and matrix: [full][matrix].
template <typename Fn>
using RowTable = std::array<std::array<Fn, 3>, 2>;

template <template <bool, ColorMatrix> typename Rows, typename Fn>
constexpr RowTable<Fn> rowTable() {
  using M = ColorMatrix;
  return {{{Rows<false, M::kBt709>::fn, Rows<false, M::kBt601>::fn, Rows<false, M::kBt2020>::fn},
           {Rows<true, M::kBt709>::fn, Rows<true, M::kBt601>::fn, Rows<true, M::kBt2020>::fn}}};
}

template <bool kFull, ColorMatrix kM>
struct Nv12Scalar {
  static constexpr Nv12RowsFn fn = &nv12RowsScalar<kFull, kM>;
};
template <bool kFull, ColorMatrix kM>
struct I420Scalar {
  static constexpr I420RowsFn fn = &i420RowsScalar<kFull, kM>;
};
#if MIRANDEL_HAVE_X86_SIMD
template <SimdLevel kLevel>
struct Nv12Simd {
  template <bool kFull, ColorMatrix kM>
  struct Rows {
    static constexpr Nv12RowsFn fn = &simd::nv12Rows<kLevel, kFull, kM>;
  };
};
template <SimdLevel kLevel>
struct I420Simd {
  template <bool kFull, ColorMatrix kM>
  struct Rows {
    static constexpr I420RowsFn fn = &simd::i420Rows<kLevel, kFull, kM>;
  };
};
#endif

template <typename Fn>
Fn pick(const RowTable<Fn>& table, ColorRange range, ColorMatrix matrix) {
  return table[range == ColorRange::kFull ? 1 : 0][static_cast<std::size_t>(matrix)];
}

}  // namespace

Nv12RowsFn nv12RowsFunction(SimdLevel level, ColorRange range, ColorMatrix matrix) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kSse2:
      return pick(rowTable<Nv12Simd<SimdLevel::kSse2>::Rows, Nv12RowsFn>(), range, matrix);
    case SimdLevel::kAvx2:
      return pick(rowTable<Nv12Simd<SimdLevel::kAvx2>::Rows, Nv12RowsFn>(), range, matrix);
#endif
    case SimdLevel::kScalar:
      return pick(rowTable<Nv12Scalar, Nv12RowsFn>(), range, matrix);
    default:
      return nullptr;
  }
}

I420RowsFn i420RowsFunction(SimdLevel level, ColorRange range, ColorMatrix matrix) {
  if (level > bestSimdLevel()) return nullptr;
  switch (level) {
#if MIRANDEL_HAVE_X86_SIMD
    case SimdLevel::kSse2:
      return pick(rowTable<I420Simd<SimdLevel::kSse2>::Rows, I420RowsFn>(), range, matrix);
    case SimdLevel::kAvx2:
      return pick(rowTable<I420Simd<SimdLevel::kAvx2>::Rows, I420RowsFn>(), range, matrix);
#endif
    case SimdLevel::kScalar:
      return pick(rowTable<I420Scalar, I420RowsFn>(), range, matrix);
    default:
      return nullptr;
  }
}

void convertToBgra(const YuvPicture& p, std::uint8_t* dst, std::size_t dstStride) {
  const bool linear = needsLinearLight(p);
  if (linear || p.bitDepth > 8) {
    const auto best = [](WideRowsFn (*function)(SimdLevel)) {
      return function(bestSimdLevel()) != nullptr ? function(bestSimdLevel())
                                                  : function(SimdLevel::kScalar);
    };
    static const WideRowsFn wide = best(&wideRowsFunction);
    static const WideRowsFn linearRows = best(&linearRowsFunction);
    const WideRowsFn rows = linear ? linearRows : wide;
    for (std::uint32_t r = 0; r < p.height; r += 2) {
      std::uint8_t* out0 = dst + r * dstStride;
      rows(p, r, out0, r + 1 < p.height ? out0 + dstStride : nullptr);
    }
    return;
  }
  static const auto nv12Rows = [] {
    RowTable<Nv12RowsFn> t{};
    for (std::size_t full = 0; full < 2; ++full) {
      for (std::size_t m = 0; m < 3; ++m) {
        t[full][m] =
            nv12RowsFunction(bestSimdLevel(), full ? ColorRange::kFull : ColorRange::kLimited,
                             static_cast<ColorMatrix>(m));
      }
    }
    return t;
  }();
  static const auto i420Rows = [] {
    RowTable<I420RowsFn> t{};
    for (std::size_t full = 0; full < 2; ++full) {
      for (std::size_t m = 0; m < 3; ++m) {
        t[full][m] =
            i420RowsFunction(bestSimdLevel(), full ? ColorRange::kFull : ColorRange::kLimited,
                             static_cast<ColorMatrix>(m));
      }
    }
    return t;
  }();
  const Nv12RowsFn nv12 = pick(nv12Rows, p.range, p.matrix);
  const I420RowsFn i420 = pick(i420Rows, p.range, p.matrix);
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
  const bool planar = p.layout == ChromaLayout::kPlanar;
  if (p.bitDepth > 8) {
    planar ? anyPictureScaled<true, true>(p, columns, outHeight, dst)
           : anyPictureScaled<true, false>(p, columns, outHeight, dst);
  } else {
    planar ? anyPictureScaled<false, true>(p, columns, outHeight, dst)
           : anyPictureScaled<false, false>(p, columns, outHeight, dst);
  }
}

}  // namespace mirandel
