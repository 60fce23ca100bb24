// AVX2 linear-light rows, bit-exact with linearPixel: the same float
// operations in the same order (no fused multiply-adds: the target is AVX2
// alone), the same truncation and the same tables, read by gathers.
#include "video/LinearLight.h"
#include "video/Yuv420ToBgraSimd.h"

#if MIRANDEL_HAVE_X86_SIMD
#include <immintrin.h>

#include "video/ChromaSpread.h"

namespace mirandel::simd {

namespace {

struct LinearConstants {
  __m256 luma, vr, ug, vg, ub, zero, top;
  __m256 m[9];
  __m256i yOffset, centre, mask, outBase, outLast, lowByte;
  __m128i inShift;
  const float* toLinear;
  const float* slope;
  const int* toOutput;  // read as bytes: gathers at byte offsets
};

// Samples of one plane as 32-bit lanes: eight bytes, or eight 16-bit words
// moved down from the high bits and masked.
template <bool kWide>
MIRANDEL_AVX2 inline __m256i samples8(const std::uint8_t* at, const LinearConstants& k) {
  if constexpr (kWide) {
    const __m256i words =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
    return _mm256_and_si256(_mm256_srl_epi32(words, k.inShift), k.mask);
  } else {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)));
  }
}

// U and V of eight chroma samples from sample c on, one per 32-bit lane.
template <bool kWide>
MIRANDEL_AVX2 inline void chroma8(const std::uint8_t* uRow, const std::uint8_t* vRow, bool planar,
                                  std::size_t c, const LinearConstants& k, __m256i& u, __m256i& v) {
  constexpr std::size_t bytes = kWide ? 2 : 1;
  if (planar) {
    u = samples8<kWide>(uRow + c * bytes, k);
    v = samples8<kWide>(vRow + c * bytes, k);
    return;
  }
  __m256i pairs;
  if constexpr (kWide) {
    pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uRow + 4 * c));
    pairs = _mm256_srl_epi16(pairs, k.inShift);
  } else {
    pairs = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uRow + 2 * c)));
  }
  u = _mm256_and_si256(_mm256_and_si256(pairs, _mm256_set1_epi32(0xFFFF)), k.mask);
  v = _mm256_and_si256(_mm256_srli_epi32(pairs, 16), k.mask);
}

// One channel's light from its R'G'B' value.
MIRANDEL_AVX2 inline __m256 light(__m256 signal, const LinearConstants& k) {
  const __m256 clamped = _mm256_min_ps(_mm256_max_ps(signal, k.zero), k.top);
  const __m256i step = _mm256_cvttps_epi32(clamped);
  const __m256 f = _mm256_sub_ps(clamped, _mm256_cvtepi32_ps(step));
  return _mm256_add_ps(_mm256_i32gather_ps(k.toLinear, step, 4),
                       _mm256_mul_ps(f, _mm256_i32gather_ps(k.slope, step, 4)));
}

// One channel's 8-bit output from its BT.709 light, in the low byte of each lane.
MIRANDEL_AVX2 inline __m256i output(__m256 x, const LinearConstants& k) {
  const __m256i bits = _mm256_castps_si256(_mm256_max_ps(x, k.zero));
  const __m256i index =
      _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(_mm256_srli_epi32(bits, 15), k.outBase),
                                        _mm256_setzero_si256()),
                       k.outLast);
  return _mm256_and_si256(_mm256_i32gather_epi32(k.toOutput, index, 1), k.lowByte);
}

MIRANDEL_AVX2 inline __m256 row3(__m256 a, __m256 b, __m256 c, const __m256* m) {
  return _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(m[0], a), _mm256_mul_ps(m[1], b)),
                       _mm256_mul_ps(m[2], c));
}

// Eight pixels from their luma and their chroma parts (spread to pixels).
template <bool kWide>
MIRANDEL_AVX2 inline void pixels8(const std::uint8_t* yAt, __m256 dr, __m256 dg, __m256 db,
                                  const LinearConstants& k, std::uint8_t* out) {
  const __m256i y = samples8<kWide>(yAt, k);
  const __m256 l = _mm256_mul_ps(k.luma, _mm256_cvtepi32_ps(_mm256_sub_epi32(y, k.yOffset)));
  const __m256 r = light(_mm256_add_ps(l, dr), k);
  const __m256 g = light(_mm256_sub_ps(l, dg), k);
  const __m256 b = light(_mm256_add_ps(l, db), k);
  const __m256i bgra =
      _mm256_or_si256(_mm256_or_si256(output(row3(r, g, b, k.m + 6), k),
                                      _mm256_slli_epi32(output(row3(r, g, b, k.m + 3), k), 8)),
                      _mm256_or_si256(_mm256_slli_epi32(output(row3(r, g, b, k.m), k), 16),
                                      _mm256_set1_epi32(static_cast<int>(0xFF000000u))));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bgra);
}

template <bool kWide>
MIRANDEL_AVX2 void linearRows256(const YuvPicture& p, std::uint32_t r, std::uint8_t* out0,
                                 std::uint8_t* out1) {
  const LinearRule& rule = linearRuleFor(p);
  LinearConstants k;
  k.luma = _mm256_set1_ps(rule.luma);
  k.vr = _mm256_set1_ps(rule.vr);
  k.ug = _mm256_set1_ps(rule.ug);
  k.vg = _mm256_set1_ps(rule.vg);
  k.ub = _mm256_set1_ps(rule.ub);
  k.zero = _mm256_setzero_ps();
  k.top = _mm256_set1_ps(static_cast<float>(LinearRule::kSignalSteps));
  for (int i = 0; i < 9; ++i) k.m[i] = _mm256_set1_ps(rule.primaries[i]);
  k.yOffset = _mm256_set1_epi32(rule.yOffset);
  k.centre = _mm256_set1_epi32(rule.centre);
  k.mask = _mm256_set1_epi32((1 << p.bitDepth) - 1);
  k.outBase = _mm256_set1_epi32(LinearRule::kOutputBase);
  k.outLast = _mm256_set1_epi32(LinearRule::kOutputEntries - 1);
  k.lowByte = _mm256_set1_epi32(0xFF);
  k.inShift =
      _mm_cvtsi32_si128(kWide && p.alignment == SampleAlignment::kHigh ? 16 - p.bitDepth : 0);
  k.toLinear = rule.toLinear.data();
  k.slope = rule.slope.data();
  k.toOutput = reinterpret_cast<const int*>(rule.toOutput.data());

  constexpr std::size_t bytes = kWide ? 2 : 1;
  const RowPlanes rows = rowPlanes(p, r, out1 != nullptr);
  std::uint32_t x = 0;
  // Eight chroma samples, sixteen pixels a step; the 8-bit planar loads read
  // eight bytes, the rest exactly the samples of the step.
  for (; x + 16 <= p.width; x += 16) {
    __m256i u, v;
    chroma8<kWide>(rows.u, rows.v, rows.planar, x / 2, k, u, v);
    const __m256 d = _mm256_cvtepi32_ps(_mm256_sub_epi32(u, k.centre));
    const __m256 e = _mm256_cvtepi32_ps(_mm256_sub_epi32(v, k.centre));
    const __m256 dr = _mm256_mul_ps(k.vr, e);
    const __m256 dg = _mm256_add_ps(_mm256_mul_ps(k.ug, d), _mm256_mul_ps(k.vg, e));
    const __m256 db = _mm256_mul_ps(k.ub, d);
    for (int half = 0; half < 2; ++half) {
      const __m256 sr = spreadHalf(dr, half), sg = spreadHalf(dg, half), sb = spreadHalf(db, half);
      const std::size_t px = x + 8 * static_cast<std::size_t>(half);
      pixels8<kWide>(rows.y0 + bytes * px, sr, sg, sb, k, out0 + 4 * px);
      if (rows.y1 != nullptr) pixels8<kWide>(rows.y1 + bytes * px, sr, sg, sb, k, out1 + 4 * px);
    }
  }
  _mm256_zeroupper();
  linearRowsFrom(p, r, x, out0, out1);
}

}  // namespace

void linearRowsAvx2(const YuvPicture& p, std::uint32_t r, std::uint8_t* out0, std::uint8_t* out1) {
  p.bitDepth > 8 ? linearRows256<true>(p, r, out0, out1) : linearRows256<false>(p, r, out0, out1);
}

}  // namespace mirandel::simd
#endif
