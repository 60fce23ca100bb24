#pragma once
// SIMD rows behind Yuv420ToBgra.h (internal). Built with per-function target
// attributes so the library keeps the default -march and runs everywhere; the
// caller picks a row only when the CPU reports the feature.
#include <cstdint>

#include "video/Yuv420ToBgra.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRANDEL_HAVE_X86_SIMD 1
#else
#define MIRANDEL_HAVE_X86_SIMD 0
#endif

namespace mirandel::simd {

// Kr and Kb of a matrix.
struct MatrixWeights {
  double kr, kb;
};

constexpr MatrixWeights weightsOf(ColorMatrix m) {
  switch (m) {
    case ColorMatrix::kBt601:
      return {0.299, 0.114};
    case ColorMatrix::kBt2020:
      return {0.2627, 0.0593};
    default:
      return {0.2126, 0.0722};
  }
}

// R = Y' + vr Pr, G = Y' - ug Pb - vg Pr, B = Y' + ub Pb for Y' in 0..1 and
// Pb, Pr in -0.5..0.5.
struct MatrixCoefficients {
  double vr, ug, vg, ub;
};

constexpr MatrixCoefficients coefficientsOf(ColorMatrix m) {
  const MatrixWeights w = weightsOf(m);
  const double kg = 1 - w.kr - w.kb;
  return {2 * (1 - w.kr), 2 * w.kb * (1 - w.kb) / kg, 2 * w.kr * (1 - w.kr) / kg, 2 * (1 - w.kb)};
}

// yuvRule() at compile time: the coefficients scaled to 8-bit output and by
// 2^shift, rounded. Limited range stretches luma by 255/219 and chroma by
// 255/224, the same at any depth; full range scales n-bit codes by
// 255/(2^n - 1). At 10 bits that factor is 255.25 / 1024, so two more
// fraction bits keep every result within one level of the exact formula.
constexpr YuvRule makeYuvRule(std::uint32_t bitDepth, ColorRange range, ColorMatrix matrix) {
  const MatrixCoefficients c = coefficientsOf(matrix);
  const std::int32_t centre = 1 << (bitDepth - 1);
  const bool limited = range == ColorRange::kLimited;
  const std::uint32_t shift = limited || bitDepth == 8 ? bitDepth : 12;
  // Limited range: the 8-bit constants, with the codes' extra bits shifted out.
  const double unit = limited ? 256.0 : static_cast<double>(1u << shift);
  const double lumaScale = limited ? 255.0 / 219.0 : 255.0 / ((1 << bitDepth) - 1);
  const double chromaScale = limited ? 255.0 / 224.0 : lumaScale;
  const auto round = [](double v) { return static_cast<std::int32_t>(v + 0.5); };
  return {round(lumaScale * unit),
          round(c.vr * chromaScale * unit),
          round(c.ug * chromaScale * unit),
          round(c.vg * chromaScale * unit),
          round(c.ub * chromaScale * unit),
          limited ? 16 << (bitDepth - 8) : 0,
          centre,
          shift};
}

// The 8-bit SIMD rows' split of one channel's chroma part cd d + ce e (d, e
// in -128..127): 256 (hd d + he e) + rd d + re e, where rd d + re e plus the
// rule's bias fits in 16 bits. Both high parts are 0 when the whole part fits
// (|cd| + |ce| <= wholeLimit); otherwise each is the nearest multiple, which
// leaves |rd| + |re| <= 256, checked against splitLimit.
struct ChromaSplit {
  int hd, he, rd, re;
  constexpr bool whole() const { return hd == 0 && he == 0; }
};

constexpr ChromaSplit splitOf(int cd, int ce, int wholeLimit) {
  const auto magnitude = [](int v) { return v < 0 ? -v : v; };
  if (magnitude(cd) + magnitude(ce) <= wholeLimit) return {0, 0, cd, ce};
  const auto nearest = [](int v) { return (v >= 0 ? v + 128 : v - 127) / 256; };
  const int hd = nearest(cd), he = nearest(ce);
  return {hd, he, cd - 256 * hd, ce - 256 * he};
}

// The splits of the three channels for one 8-bit range and matrix.
template <bool kFull, ColorMatrix kMatrix>
struct RuleSplits {
  static constexpr YuvRule rule =
      makeYuvRule(8, kFull ? ColorRange::kFull : ColorRange::kLimited, kMatrix);
  // Limited: P = rd d + re e - 4640 within 16 bits, and for a whole part
  // 42 Y + P too (Y up to 255). Full: P = rd d + re e + 128.
  static constexpr int wholeLimit = kFull ? 255 : 208;
  static constexpr int splitLimit = kFull ? 255 : 219;
  static constexpr ChromaSplit r = splitOf(0, rule.vr, wholeLimit);
  static constexpr ChromaSplit g = splitOf(-rule.ug, -rule.vg, wholeLimit);
  static constexpr ChromaSplit b = splitOf(rule.ub, 0, wholeLimit);
  static constexpr bool fits(const ChromaSplit& s) {
    return (s.rd < 0 ? -s.rd : s.rd) + (s.re < 0 ? -s.re : s.re) <= splitLimit;
  }
  static_assert(fits(r) && fits(g) && fits(b));
  static_assert(rule.luma == (kFull ? 256 : 298) && rule.yOffset == (kFull ? 0 : 16));
};

// What one pair of output rows reads: luma row `row` and, when there are two
// rows, the next; and the chroma row they share (no v for a semi-planar
// layout).
struct RowPlanes {
  bool planar = false;
  const std::uint8_t* y0 = nullptr;
  const std::uint8_t* y1 = nullptr;
  const std::uint8_t* u = nullptr;
  const std::uint8_t* v = nullptr;
};

inline RowPlanes rowPlanes(const YuvPicture& p, std::uint32_t row, bool twoRows) {
  RowPlanes r;
  r.planar = p.layout == ChromaLayout::kPlanar;
  r.y0 = p.y + row * p.yStride;
  r.y1 = twoRows ? r.y0 + p.yStride : nullptr;
  r.u = p.u + (row / 2) * p.uStride;
  r.v = r.planar ? p.v + (row / 2) * p.vStride : nullptr;
  return r;
}

// The scalar 10-bit rows from an even column x0 on: the SIMD rows' tail.
void wideRowsFrom(const YuvPicture& picture, std::uint32_t row, std::uint32_t x0,
                  std::uint8_t* out0, std::uint8_t* out1);

// The scalar linear-light rows from an even column x0 on.
void linearRowsFrom(const YuvPicture& picture, std::uint32_t row, std::uint32_t x0,
                    std::uint8_t* out0, std::uint8_t* out1);

}  // namespace mirandel::simd

#if MIRANDEL_HAVE_X86_SIMD
namespace mirandel::simd {

// 8-bit rows of one level (SSE2 or AVX2), range and matrix.
template <SimdLevel kLevel, bool kFull, ColorMatrix kMatrix>
void nv12Rows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
              std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
template <SimdLevel kLevel, bool kFull, ColorMatrix kMatrix>
void i420Rows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
              const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);

// 10-bit rows, any layout, range and matrix.
void wideRowsAvx2(const YuvPicture& picture, std::uint32_t row, std::uint8_t* out0,
                  std::uint8_t* out1);

// Linear-light rows, any depth, layout and colour description.
void linearRowsAvx2(const YuvPicture& picture, std::uint32_t row, std::uint8_t* out0,
                    std::uint8_t* out1);

}  // namespace mirandel::simd
#endif
