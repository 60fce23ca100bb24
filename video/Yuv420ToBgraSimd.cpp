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

// Multiplier constants hidden from the optimiser: left alone, it turns each
// multiply into a longer chain of shifts and adds.
inline __m128i opaque(__m128i v) {
  asm("" : "+x"(v));
  return v;
}

// ---- SSE2: 16 pixels per step (8 chroma samples in 16-bit lanes) ----

// k x, with the small factors as adds.
template <int k>
inline __m128i times128(__m128i x) {
  if constexpr (k == 1) {
    return x;
  } else if constexpr (k == 2) {
    return _mm_add_epi16(x, x);
  } else if constexpr (k == -1) {
    return _mm_sub_epi16(_mm_setzero_si128(), x);
  } else {
    return _mm_mullo_epi16(x, opaque(_mm_set1_epi16(static_cast<short>(k))));
  }
}

// a d + b e + bias.
template <int a, int b>
inline __m128i sum128(__m128i d, __m128i e, __m128i bias) {
  if constexpr (a == 0 && b == 0) {
    return bias;
  } else if constexpr (a == 0) {
    return _mm_add_epi16(times128<b>(e), bias);
  } else if constexpr (b == 0) {
    return _mm_add_epi16(times128<a>(d), bias);
  } else {
    return _mm_add_epi16(_mm_add_epi16(times128<a>(d), times128<b>(e)), bias);
  }
}

// One channel's terms per chroma sample: qh and ql, or P alone for a whole
// part; qh alone for full range.
struct Terms128 {
  __m128i h, l;
};

template <bool kFull, ChromaSplit s>
inline Terms128 terms128(__m128i d, __m128i e) {
  const __m128i p = sum128<s.rd, s.re>(d, e, _mm_set1_epi16(kFull ? 128 : -4640));
  if constexpr (s.whole()) {
    return {kFull ? _mm_srai_epi16(p, 8) : p, p};
  } else {
    const __m128i h = sum128<s.hd, s.he>(d, e, _mm_srai_epi16(p, 8));
    return {h, kFull ? h : _mm_and_si128(p, _mm_set1_epi16(0xFF))};
  }
}

// Y + qh + ((42 Y + ql) >> 8); Y + ((42 Y + P) >> 8) for a whole part; Y + qh
// for full range.
template <bool kFull, ChromaSplit s>
inline __m128i channel128(__m128i y, __m128i y42, const Terms128& t) {
  if constexpr (kFull) {
    return _mm_add_epi16(y, t.h);
  } else if constexpr (s.whole()) {
    return _mm_add_epi16(y, _mm_srai_epi16(_mm_add_epi16(y42, t.h), 8));
  } else {
    return _mm_add_epi16(_mm_add_epi16(y, t.h), _mm_srli_epi16(_mm_add_epi16(y42, t.l), 8));
  }
}

struct Chroma128 {
  Terms128 r, g, b;
};

template <bool kFull, ColorMatrix kM>
inline Chroma128 chromaTerms128(__m128i u16, __m128i v16) {
  using S = RuleSplits<kFull, kM>;
  const __m128i d = _mm_sub_epi16(u16, _mm_set1_epi16(128));
  const __m128i e = _mm_sub_epi16(v16, _mm_set1_epi16(128));
  return {terms128<kFull, S::r>(d, e), terms128<kFull, S::g>(d, e), terms128<kFull, S::b>(d, e)};
}

template <bool kFull, ColorMatrix kM>
inline void pixels16Sse2(const std::uint8_t* y, const Chroma128& c, std::uint8_t* out) {
  using S = RuleSplits<kFull, kM>;
  const __m128i yBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i yEven = _mm_and_si128(yBytes, _mm_set1_epi16(0xFF));
  const __m128i yOdd = _mm_srli_epi16(yBytes, 8);
  __m128i y42Even = yEven, y42Odd = yOdd;  // unused for full range
  if constexpr (!kFull) {
    y42Even = _mm_mullo_epi16(yEven, opaque(_mm_set1_epi16(42)));
    y42Odd = _mm_mullo_epi16(yOdd, opaque(_mm_set1_epi16(42)));
  }

  // Each packed channel holds the even pixels, then the odd ones.
  const __m128i b = _mm_packus_epi16(channel128<kFull, S::b>(yEven, y42Even, c.b),
                                     channel128<kFull, S::b>(yOdd, y42Odd, c.b));
  const __m128i g = _mm_packus_epi16(channel128<kFull, S::g>(yEven, y42Even, c.g),
                                     channel128<kFull, S::g>(yOdd, y42Odd, c.g));
  const __m128i r = _mm_packus_epi16(channel128<kFull, S::r>(yEven, y42Even, c.r),
                                     channel128<kFull, S::r>(yOdd, y42Odd, c.r));
  const __m128i a = _mm_set1_epi8(static_cast<char>(0xFF));

  const __m128i bgEven = _mm_unpacklo_epi8(b, g);
  const __m128i bgOdd = _mm_unpackhi_epi8(b, g);
  const __m128i raEven = _mm_unpacklo_epi8(r, a);
  const __m128i raOdd = _mm_unpackhi_epi8(r, a);
  const __m128i even03 = _mm_unpacklo_epi16(bgEven, raEven);  // pixels 0, 2, 4, 6
  const __m128i even47 = _mm_unpackhi_epi16(bgEven, raEven);  // pixels 8 .. 14
  const __m128i odd03 = _mm_unpacklo_epi16(bgOdd, raOdd);     // pixels 1 .. 7
  const __m128i odd47 = _mm_unpackhi_epi16(bgOdd, raOdd);     // pixels 9 .. 15
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, _mm_unpacklo_epi32(even03, odd03));
  _mm_storeu_si128(dst + 1, _mm_unpackhi_epi32(even03, odd03));
  _mm_storeu_si128(dst + 2, _mm_unpacklo_epi32(even47, odd47));
  _mm_storeu_si128(dst + 3, _mm_unpackhi_epi32(even47, odd47));
}

// ---- AVX2: 32 pixels per step ----
// The same steps in two 128-bit lanes: lane 0 carries pixels 0..15, lane 1
// pixels 16..31, so no step crosses lanes.

#define MIRANDEL_AVX2 __attribute__((target("avx2")))

MIRANDEL_AVX2 inline __m256i opaque(__m256i v) {
  asm("" : "+x"(v));
  return v;
}

template <int k>
MIRANDEL_AVX2 inline __m256i times256(__m256i x) {
  if constexpr (k == 1) {
    return x;
  } else if constexpr (k == 2) {
    return _mm256_add_epi16(x, x);
  } else if constexpr (k == -1) {
    return _mm256_sub_epi16(_mm256_setzero_si256(), x);
  } else {
    return _mm256_mullo_epi16(x, opaque(_mm256_set1_epi16(static_cast<short>(k))));
  }
}

template <int a, int b>
MIRANDEL_AVX2 inline __m256i sum256(__m256i d, __m256i e, __m256i bias) {
  if constexpr (a == 0 && b == 0) {
    return bias;
  } else if constexpr (a == 0) {
    return _mm256_add_epi16(times256<b>(e), bias);
  } else if constexpr (b == 0) {
    return _mm256_add_epi16(times256<a>(d), bias);
  } else {
    return _mm256_add_epi16(_mm256_add_epi16(times256<a>(d), times256<b>(e)), bias);
  }
}

struct Terms256 {
  __m256i h, l;
};

template <bool kFull, ChromaSplit s>
MIRANDEL_AVX2 inline Terms256 terms256(__m256i d, __m256i e) {
  const __m256i p = sum256<s.rd, s.re>(d, e, _mm256_set1_epi16(kFull ? 128 : -4640));
  if constexpr (s.whole()) {
    return {kFull ? _mm256_srai_epi16(p, 8) : p, p};
  } else {
    const __m256i h = sum256<s.hd, s.he>(d, e, _mm256_srai_epi16(p, 8));
    return {h, kFull ? h : _mm256_and_si256(p, _mm256_set1_epi16(0xFF))};
  }
}

template <bool kFull, ChromaSplit s>
MIRANDEL_AVX2 inline __m256i channel256(__m256i y, __m256i y42, const Terms256& t) {
  if constexpr (kFull) {
    return _mm256_add_epi16(y, t.h);
  } else if constexpr (s.whole()) {
    return _mm256_add_epi16(y, _mm256_srai_epi16(_mm256_add_epi16(y42, t.h), 8));
  } else {
    return _mm256_add_epi16(_mm256_add_epi16(y, t.h),
                            _mm256_srli_epi16(_mm256_add_epi16(y42, t.l), 8));
  }
}

struct Chroma256 {
  Terms256 r, g, b;
};

template <bool kFull, ColorMatrix kM>
MIRANDEL_AVX2 inline Chroma256 chromaTerms256(__m256i u16, __m256i v16) {
  using S = RuleSplits<kFull, kM>;
  const __m256i d = _mm256_sub_epi16(u16, _mm256_set1_epi16(128));
  const __m256i e = _mm256_sub_epi16(v16, _mm256_set1_epi16(128));
  return {terms256<kFull, S::r>(d, e), terms256<kFull, S::g>(d, e), terms256<kFull, S::b>(d, e)};
}

template <bool kFull, ColorMatrix kM>
MIRANDEL_AVX2 inline void pixels32Avx2(const std::uint8_t* y, const Chroma256& c,
                                       std::uint8_t* out) {
  using S = RuleSplits<kFull, kM>;
  const __m256i yBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i yEven = _mm256_and_si256(yBytes, _mm256_set1_epi16(0xFF));
  const __m256i yOdd = _mm256_srli_epi16(yBytes, 8);
  __m256i y42Even = yEven, y42Odd = yOdd;  // unused for full range
  if constexpr (!kFull) {
    y42Even = _mm256_mullo_epi16(yEven, opaque(_mm256_set1_epi16(42)));
    y42Odd = _mm256_mullo_epi16(yOdd, opaque(_mm256_set1_epi16(42)));
  }
  const __m256i b = _mm256_packus_epi16(channel256<kFull, S::b>(yEven, y42Even, c.b),
                                        channel256<kFull, S::b>(yOdd, y42Odd, c.b));
  const __m256i g = _mm256_packus_epi16(channel256<kFull, S::g>(yEven, y42Even, c.g),
                                        channel256<kFull, S::g>(yOdd, y42Odd, c.g));
  const __m256i r = _mm256_packus_epi16(channel256<kFull, S::r>(yEven, y42Even, c.r),
                                        channel256<kFull, S::r>(yOdd, y42Odd, c.r));
  const __m256i a = _mm256_set1_epi8(static_cast<char>(0xFF));

  const __m256i bgEven = _mm256_unpacklo_epi8(b, g);
  const __m256i bgOdd = _mm256_unpackhi_epi8(b, g);
  const __m256i raEven = _mm256_unpacklo_epi8(r, a);
  const __m256i raOdd = _mm256_unpackhi_epi8(r, a);
  const __m256i even03 = _mm256_unpacklo_epi16(bgEven, raEven);
  const __m256i even47 = _mm256_unpackhi_epi16(bgEven, raEven);
  const __m256i odd03 = _mm256_unpacklo_epi16(bgOdd, raOdd);
  const __m256i odd47 = _mm256_unpackhi_epi16(bgOdd, raOdd);
  const __m256i q0 = _mm256_unpacklo_epi32(even03, odd03);  // [0..3 | 16..19]
  const __m256i q1 = _mm256_unpackhi_epi32(even03, odd03);  // [4..7 | 20..23]
  const __m256i q2 = _mm256_unpacklo_epi32(even47, odd47);  // [8..11 | 24..27]
  const __m256i q3 = _mm256_unpackhi_epi32(even47, odd47);  // [12..15 | 28..31]
  // Lane 0 holds pixels 0..15, lane 1 pixels 16..31: store the halves
  // directly (cross-lane permutes cost several micro-ops on some cores).
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, _mm256_castsi256_si128(q0));
  _mm_storeu_si128(dst + 1, _mm256_castsi256_si128(q1));
  _mm_storeu_si128(dst + 2, _mm256_castsi256_si128(q2));
  _mm_storeu_si128(dst + 3, _mm256_castsi256_si128(q3));
  _mm_storeu_si128(dst + 4, _mm256_extracti128_si256(q0, 1));
  _mm_storeu_si128(dst + 5, _mm256_extracti128_si256(q1, 1));
  _mm_storeu_si128(dst + 6, _mm256_extracti128_si256(q2, 1));
  _mm_storeu_si128(dst + 7, _mm256_extracti128_si256(q3, 1));
}

// Each row converts one row, or two that share their chroma terms.

template <bool kFull, ColorMatrix kM>
void nv12Rows128(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                 std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const Chroma128 c =
        chromaTerms128<kFull, kM>(_mm_and_si128(pairs, lowBytes), _mm_srli_epi16(pairs, 8));
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
    const Chroma128 c =
        chromaTerms128<kFull, kM>(_mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero));
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
    const Chroma256 c =
        chromaTerms256<kFull, kM>(_mm256_and_si256(pairs, lowBytes), _mm256_srli_epi16(pairs, 8));
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
    const Chroma256 c = chromaTerms256<kFull, kM>(u16, v16);
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
  const __m256i firstHalf = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  const __m256i secondHalf = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);

  const bool planar = p.layout == ChromaLayout::kPlanar;
  const std::uint8_t* y0 = p.y + r * p.yStride;
  const std::uint8_t* y1 = out1 != nullptr ? y0 + p.yStride : nullptr;
  const std::uint8_t* uRow = p.u + (r / 2) * p.uStride;
  const std::uint8_t* vRow = planar ? p.v + (r / 2) * p.vStride : nullptr;
  std::uint32_t x = 0;
  for (; x + 16 <= p.width; x += 16) {
    // Eight chroma samples: 16 bytes of each plane from sample x / 2, or
    // eight U, V word pairs, one per 32-bit lane.
    __m256i u, v;
    if (planar) {
      u = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uRow + x)));
      v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(vRow + x)));
    } else {
      const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uRow + 2 * x));
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
      const __m256i spread = half == 0 ? firstHalf : secondHalf;
      const __m256i b = _mm256_permutevar8x32_epi32(tB, spread);
      const __m256i g = _mm256_permutevar8x32_epi32(tG, spread);
      const __m256i rr = _mm256_permutevar8x32_epi32(tR, spread);
      const std::size_t px = x + 8 * static_cast<std::size_t>(half);
      pixels8Wide(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y0 + 2 * px)), b, g, rr, k,
                  out0 + 4 * px);
      if (y1 != nullptr) {
        pixels8Wide(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y1 + 2 * px)), b, g, rr, k,
                    out1 + 4 * px);
      }
    }
  }
  _mm256_zeroupper();
  wideRowsFrom(p, r, x, out0, out1);
}

template <bool kFull, ColorMatrix kM>
void nv12RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                  std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  nv12Rows128<kFull, kM>(y0, y1, uv, out0, out1, width);
}
template <bool kFull, ColorMatrix kM>
void i420RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                  const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                  std::uint32_t width) {
  i420Rows128<kFull, kM>(y0, y1, u, v, out0, out1, width);
}
template <bool kFull, ColorMatrix kM>
void nv12RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                  std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  nv12Rows256<kFull, kM>(y0, y1, uv, out0, out1, width);
}
template <bool kFull, ColorMatrix kM>
void i420RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                  const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                  std::uint32_t width) {
  i420Rows256<kFull, kM>(y0, y1, u, v, out0, out1, width);
}

// Every range and matrix.
#define MIRANDEL_ROWS(kFull, kM)                                                                 \
  template void nv12RowsSse2<kFull, kM>(const std::uint8_t*, const std::uint8_t*,                \
                                        const std::uint8_t*, std::uint8_t*, std::uint8_t*,       \
                                        std::uint32_t);                                          \
  template void i420RowsSse2<kFull, kM>(const std::uint8_t*, const std::uint8_t*,                \
                                        const std::uint8_t*, const std::uint8_t*, std::uint8_t*, \
                                        std::uint8_t*, std::uint32_t);                           \
  template void nv12RowsAvx2<kFull, kM>(const std::uint8_t*, const std::uint8_t*,                \
                                        const std::uint8_t*, std::uint8_t*, std::uint8_t*,       \
                                        std::uint32_t);                                          \
  template void i420RowsAvx2<kFull, kM>(const std::uint8_t*, const std::uint8_t*,                \
                                        const std::uint8_t*, const std::uint8_t*, std::uint8_t*, \
                                        std::uint8_t*, std::uint32_t);
MIRANDEL_ROWS(false, ColorMatrix::kBt709)
MIRANDEL_ROWS(true, ColorMatrix::kBt709)
MIRANDEL_ROWS(false, ColorMatrix::kBt601)
MIRANDEL_ROWS(true, ColorMatrix::kBt601)
MIRANDEL_ROWS(false, ColorMatrix::kBt2020)
MIRANDEL_ROWS(true, ColorMatrix::kBt2020)
#undef MIRANDEL_ROWS

}  // namespace mirandel::simd
#endif
