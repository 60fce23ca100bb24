// SSE2 and AVX2 rows, bit-exact with the scalar rule.
//
// The rule's sums need 18 bits, too wide for 16-bit lanes. With
// S = 298 (Y - 16) + Q, where Q is a channel's chroma part plus 128, write
// 298 (Y - 16) = 256 Y + 42 Y - 4768 and Q - 4768 = 256 qh + ql with
// 0 <= ql < 256. Then exactly
//   floor(S / 256) = Y + qh + ((42 Y + ql) >> 8),
// every term fits in 16 bits, 42 Y + ql is never negative, and qh, ql are
// worked out once per chroma sample. Each channel's chroma part splits as
// Q - 4768 = 256 (hd d + he e) + P, P = rd d + re e - 4640 (ChromaSplit),
// so qh = hd d + he e + (P >> 8) and ql = P & 255. For BT.709:
//   R: 459 e = 512 e - 53 e                  qh = 2 e + (P >> 8)
//   G: -55 d - 136 e, whole                  (then Y + ((42 Y + P) >> 8))
//   B: 541 d = 512 d + 29 d                  qh = 2 d + (P >> 8)
// A part that fits whole leaves P itself, and Y + ((42 Y + P) >> 8) saves
// an add. Luma is split into even and odd pixels (the low and high byte of
// each 16-bit lane), so each lane lines up with its own chroma sample without
// spreading chroma to pixels; the saturating pack clamps, and three unpack
// levels restore pixel order.
//
// Full range has 256 Y in place of 298 (Y - 16), so floor(S / 256) is just
// Y + floor(Q / 256) = Y + hd d + he e + ((rd d + re e + 128) >> 8), worked
// out once per chroma sample, with no 42 Y term.
#include "video/Yuv420ToBgraSimd.h"

#if MIRANDEL_HAVE_X86_SIMD
#include <immintrin.h>

#include "video/ChromaSpread.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel::simd {

namespace {

// Scalar tail, from an even column on.
template <bool kFull, ColorMatrix kM>
void nv12Tail(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra, std::uint32_t x,
              std::uint32_t width) {
  for (; x < width; ++x) {
    const std::uint32_t c = x & ~1u;
    yuvToBgraPixel8<kFull, kM>(y[x], uv[c], uv[c + 1], bgra + 4 * static_cast<std::size_t>(x));
  }
}

template <bool kFull, ColorMatrix kM>
void i420Tail(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
              std::uint8_t* bgra, std::uint32_t x, std::uint32_t width) {
  for (; x < width; ++x) {
    yuvToBgraPixel8<kFull, kM>(y[x], u[x / 2], v[x / 2], bgra + 4 * static_cast<std::size_t>(x));
  }
}

// ---- The split arithmetic, once for each vector width ----
// SSE2: 16 pixels per step (8 chroma samples in 16-bit lanes). AVX2: the
// same steps in two 128-bit lanes, 32 pixels per step: lane 0 carries
// pixels 0..15, lane 1 pixels 16..31, so no step crosses lanes. The steps
// are written once (Yuv420ToBgraLanes.h) over the operations below, and
// compiled for each width with its own target.

namespace lanes128 {
#define MIRANDEL_LANES inline
#define MIRANDEL_LANES_VEC __m128i
#define MIRANDEL_LANES_OP(name) _mm_##name
#define MIRANDEL_LANES_BITS(name) _mm_##name##_si128
#include "video/Yuv420ToBgraLanes.h"
#undef MIRANDEL_LANES
#undef MIRANDEL_LANES_VEC
#undef MIRANDEL_LANES_OP
#undef MIRANDEL_LANES_BITS
}  // namespace lanes128

namespace lanes256 {
#define MIRANDEL_LANES MIRANDEL_AVX2 inline
#define MIRANDEL_LANES_VEC __m256i
#define MIRANDEL_LANES_OP(name) _mm256_##name
#define MIRANDEL_LANES_BITS(name) _mm256_##name##_si256
#include "video/Yuv420ToBgraLanes.h"
#undef MIRANDEL_LANES
#undef MIRANDEL_LANES_VEC
#undef MIRANDEL_LANES_OP
#undef MIRANDEL_LANES_BITS
}  // namespace lanes256

template <bool kFull, ColorMatrix kM>
inline void pixels16Sse2(const std::uint8_t* y, const lanes128::Chroma& c, std::uint8_t* out) {
  const lanes128::Quads q = lanes128::pixels<kFull, kM>(y, c);
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, q.q0);
  _mm_storeu_si128(dst + 1, q.q1);
  _mm_storeu_si128(dst + 2, q.q2);
  _mm_storeu_si128(dst + 3, q.q3);
}

template <bool kFull, ColorMatrix kM>
MIRANDEL_AVX2 inline void pixels32Avx2(const std::uint8_t* y, const lanes256::Chroma& c,
                                       std::uint8_t* out) {
  const lanes256::Quads q = lanes256::pixels<kFull, kM>(y, c);
  // Lane 0 holds pixels 0..15, lane 1 pixels 16..31: store the halves
  // directly (cross-lane permutes cost several micro-ops on some cores).
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, _mm256_castsi256_si128(q.q0));
  _mm_storeu_si128(dst + 1, _mm256_castsi256_si128(q.q1));
  _mm_storeu_si128(dst + 2, _mm256_castsi256_si128(q.q2));
  _mm_storeu_si128(dst + 3, _mm256_castsi256_si128(q.q3));
  _mm_storeu_si128(dst + 4, _mm256_extracti128_si256(q.q0, 1));
  _mm_storeu_si128(dst + 5, _mm256_extracti128_si256(q.q1, 1));
  _mm_storeu_si128(dst + 6, _mm256_extracti128_si256(q.q2, 1));
  _mm_storeu_si128(dst + 7, _mm256_extracti128_si256(q.q3, 1));
}

// Each row converts one row, or two that share their chroma terms.

template <bool kFull, ColorMatrix kM>
void nv12Rows128(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                 std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const lanes128::Chroma c =
        lanes128::chromaTerms<kFull, kM>(_mm_and_si128(pairs, lowBytes), _mm_srli_epi16(pairs, 8));
    pixels16Sse2<kFull, kM>(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels16Sse2<kFull, kM>(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  nv12Tail<kFull, kM>(y0, uv, out0, x, width);
  if (y1 != nullptr) nv12Tail<kFull, kM>(y1, uv, out1, x, width);
}

template <bool kFull, ColorMatrix kM>
void i420Rows128(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                 const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                 std::uint32_t width) {
  const __m128i zero = _mm_setzero_si128();
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const lanes128::Chroma c =
        lanes128::chromaTerms<kFull, kM>(_mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero));
    pixels16Sse2<kFull, kM>(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels16Sse2<kFull, kM>(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  i420Tail<kFull, kM>(y0, u, v, out0, x, width);
  if (y1 != nullptr) i420Tail<kFull, kM>(y1, u, v, out1, x, width);
}

template <bool kFull, ColorMatrix kM>
MIRANDEL_AVX2 void nv12Rows256(const std::uint8_t* y0, const std::uint8_t* y1,
                               const std::uint8_t* uv, std::uint8_t* out0, std::uint8_t* out1,
                               std::uint32_t width) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv + x));
    const lanes256::Chroma c = lanes256::chromaTerms<kFull, kM>(_mm256_and_si256(pairs, lowBytes),
                                                                _mm256_srli_epi16(pairs, 8));
    pixels32Avx2<kFull, kM>(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels32Avx2<kFull, kM>(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  // SSE2 for the next 16 pixels, then the scalar tail.
  _mm256_zeroupper();
  const std::size_t o = 4 * static_cast<std::size_t>(x);
  nv12Rows128<kFull, kM>(y0 + x, y1 == nullptr ? nullptr : y1 + x, uv + x, out0 + o,
                         out1 == nullptr ? nullptr : out1 + o, width - x);
}

template <bool kFull, ColorMatrix kM>
MIRANDEL_AVX2 void i420Rows256(const std::uint8_t* y0, const std::uint8_t* y1,
                               const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* out0,
                               std::uint8_t* out1, std::uint32_t width) {
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i u16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2)));
    const __m256i v16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2)));
    const lanes256::Chroma c = lanes256::chromaTerms<kFull, kM>(u16, v16);
    pixels32Avx2<kFull, kM>(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels32Avx2<kFull, kM>(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  _mm256_zeroupper();
  const std::size_t o = 4 * static_cast<std::size_t>(x);
  i420Rows128<kFull, kM>(y0 + x, y1 == nullptr ? nullptr : y1 + x, u + x / 2, v + x / 2, out0 + o,
                         out1 == nullptr ? nullptr : out1 + o, width - x);
}

// ---- 10-bit, AVX2: 16 pixels per step in 32-bit lanes ----
// The rule's own sums, exactly: each lane holds one pixel's sum, so there is
// nothing to split. Clamped lanes are assembled into B, G, R, A words.

struct WideConstants {
  __m256i luma, yOffset, centre, round, vr, ug, vg, ub, mask;
  __m128i inShift, outShift;
};

MIRANDEL_AVX2 inline __m256i wideSamples(__m256i words, const WideConstants& k) {
  return _mm256_and_si256(_mm256_srl_epi32(words, k.inShift), k.mask);
}

// One channel of eight pixels: (c + t) >> shift, clamped to 0..255.
MIRANDEL_AVX2 inline __m256i wideChannel(__m256i c, __m256i t, const WideConstants& k) {
  const __m256i v = _mm256_sra_epi32(_mm256_add_epi32(c, t), k.outShift);
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

// Eight pixels from eight luma words and their (duplicated) chroma terms.
MIRANDEL_AVX2 inline void pixels8Wide(__m128i yWords, __m256i tB, __m256i tG, __m256i tR,
                                      const WideConstants& k, std::uint8_t* out) {
  const __m256i y = wideSamples(_mm256_cvtepu16_epi32(yWords), k);
  const __m256i c = _mm256_mullo_epi32(_mm256_sub_epi32(y, k.yOffset), k.luma);
  const __m256i bgra = _mm256_or_si256(
      _mm256_or_si256(wideChannel(c, tB, k), _mm256_slli_epi32(wideChannel(c, tG, k), 8)),
      _mm256_or_si256(_mm256_slli_epi32(wideChannel(c, tR, k), 16),
                      _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bgra);
}

}  // namespace

MIRANDEL_AVX2 void wideRowsAvx2(const YuvPicture& p, std::uint32_t r, std::uint8_t* out0,
                                std::uint8_t* out1) {
  const YuvRule rule = yuvRule(p.bitDepth, p.range, p.matrix);
  WideConstants k;
  k.luma = _mm256_set1_epi32(rule.luma);
  k.yOffset = _mm256_set1_epi32(rule.yOffset);
  k.centre = _mm256_set1_epi32(rule.chromaCentre);
  k.round = _mm256_set1_epi32(1 << (rule.shift - 1));
  k.vr = _mm256_set1_epi32(rule.vr);
  k.ug = _mm256_set1_epi32(rule.ug);
  k.vg = _mm256_set1_epi32(rule.vg);
  k.ub = _mm256_set1_epi32(rule.ub);
  k.mask = _mm256_set1_epi32((1 << p.bitDepth) - 1);
  k.inShift = _mm_cvtsi32_si128(p.alignment == SampleAlignment::kHigh ? 16 - p.bitDepth : 0);
  k.outShift = _mm_cvtsi32_si128(static_cast<int>(rule.shift));

  const RowPlanes rows = rowPlanes(p, r, out1 != nullptr);
  std::uint32_t x = 0;
  for (; x + 16 <= p.width; x += 16) {
    // Eight chroma samples: 16 bytes of each plane from sample x / 2, or
    // eight U, V word pairs, one per 32-bit lane.
    __m256i u, v;
    if (rows.planar) {
      u = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.u + x)));
      v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.v + x)));
    } else {
      const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows.u + 2 * x));
      u = _mm256_and_si256(pairs, _mm256_set1_epi32(0xFFFF));
      v = _mm256_srli_epi32(pairs, 16);
    }
    const __m256i d = _mm256_sub_epi32(wideSamples(u, k), k.centre);
    const __m256i e = _mm256_sub_epi32(wideSamples(v, k), k.centre);
    const __m256i tB = _mm256_add_epi32(_mm256_mullo_epi32(d, k.ub), k.round);
    const __m256i tR = _mm256_add_epi32(_mm256_mullo_epi32(e, k.vr), k.round);
    const __m256i tG = _mm256_sub_epi32(
        k.round, _mm256_add_epi32(_mm256_mullo_epi32(d, k.ug), _mm256_mullo_epi32(e, k.vg)));
    for (int half = 0; half < 2; ++half) {
      const __m256i b = spreadHalf(tB, half), g = spreadHalf(tG, half), rr = spreadHalf(tR, half);
      const std::size_t px = x + 8 * static_cast<std::size_t>(half);
      pixels8Wide(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.y0 + 2 * px)), b, g, rr, k,
                  out0 + 4 * px);
      if (rows.y1 != nullptr) {
        pixels8Wide(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.y1 + 2 * px)), b, g, rr,
                    k, out1 + 4 * px);
      }
    }
  }
  _mm256_zeroupper();
  wideRowsFrom(p, r, x, out0, out1);
}

template <SimdLevel kLevel, bool kFull, ColorMatrix kM>
void nv12Rows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
              std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  if constexpr (kLevel == SimdLevel::kAvx2) {
    nv12Rows256<kFull, kM>(y0, y1, uv, out0, out1, width);
  } else {
    nv12Rows128<kFull, kM>(y0, y1, uv, out0, out1, width);
  }
}
template <SimdLevel kLevel, bool kFull, ColorMatrix kM>
void i420Rows(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
              const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  if constexpr (kLevel == SimdLevel::kAvx2) {
    i420Rows256<kFull, kM>(y0, y1, u, v, out0, out1, width);
  } else {
    i420Rows128<kFull, kM>(y0, y1, u, v, out0, out1, width);
  }
}

// Every level, range and matrix.
#define MIRANDEL_ROWS(kLevel, kFull, kM)                                                       \
  template void nv12Rows<kLevel, kFull, kM>(const std::uint8_t*, const std::uint8_t*,          \
                                            const std::uint8_t*, std::uint8_t*, std::uint8_t*, \
                                            std::uint32_t);                                    \
  template void i420Rows<kLevel, kFull, kM>(const std::uint8_t*, const std::uint8_t*,          \
                                            const std::uint8_t*, const std::uint8_t*,          \
                                            std::uint8_t*, std::uint8_t*, std::uint32_t);
#define MIRANDEL_LEVELS(kFull, kM)           \
  MIRANDEL_ROWS(SimdLevel::kSse2, kFull, kM) \
  MIRANDEL_ROWS(SimdLevel::kAvx2, kFull, kM)
MIRANDEL_LEVELS(false, ColorMatrix::kBt709)
MIRANDEL_LEVELS(true, ColorMatrix::kBt709)
MIRANDEL_LEVELS(false, ColorMatrix::kBt601)
MIRANDEL_LEVELS(true, ColorMatrix::kBt601)
MIRANDEL_LEVELS(false, ColorMatrix::kBt2020)
MIRANDEL_LEVELS(true, ColorMatrix::kBt2020)
#undef MIRANDEL_LEVELS
#undef MIRANDEL_ROWS

}  // namespace mirandel::simd
#endif
