// SSE2 and AVX2 rows, bit-exact with the scalar rule.
//
// The rule's sums need 18 bits, too wide for 16-bit lanes. With
// S = 298 (Y - 16) + Q, where Q is a channel's chroma part plus 128, write
// 298 (Y - 16) = 256 Y + 42 Y - 4768 and Q - 4768 = 256 qh + ql with
// 0 <= ql < 256. Then exactly
//   floor(S / 256) = Y + qh + ((42 Y + ql) >> 8),
// every term fits in 16 bits, 42 Y + ql is never negative, and qh, ql are
// worked out once per chroma sample:
//   R: Q - 4768 = 256 e  + P, P = 203 e - 4640          qh = e + (P >> 8)
//   G: Q - 4768 = P,          P = -55 d - 136 e - 4640  (then Y + ((42 Y + P) >> 8))
//   B: Q - 4768 = 512 d + P,  P = 29 d - 4640           qh = 2 d + (P >> 8)
// with ql = P & 255 in each case. Luma is split into even and odd pixels
// (the low and high byte of each 16-bit lane), so each lane lines up with its
// own chroma sample without spreading chroma to pixels; the saturating pack
// clamps, and three unpack levels restore pixel order.
#include "video/Yuv420ToBgraSimd.h"

#if MIRANDEL_HAVE_X86_SIMD
#include <immintrin.h>

#include "video/Yuv420ToBgra.h"

namespace mirandel::simd {

namespace {

// Scalar tail, from an even column on.
void nv12Tail(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra, std::uint32_t x,
              std::uint32_t width) {
  for (; x < width; ++x) {
    const std::uint32_t c = x & ~1u;
    yuvToBgraPixel(y[x], uv[c], uv[c + 1], bgra + 4 * static_cast<std::size_t>(x));
  }
}

void i420Tail(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
              std::uint8_t* bgra, std::uint32_t x, std::uint32_t width) {
  for (; x < width; ++x) {
    yuvToBgraPixel(y[x], u[x / 2], v[x / 2], bgra + 4 * static_cast<std::size_t>(x));
  }
}

// Multiplier constants hidden from the optimiser: left alone, it turns each
// multiply into a longer chain of shifts and adds.
inline __m128i opaque(__m128i v) {
  asm("" : "+x"(v));
  return v;
}

// ---- SSE2: 16 pixels per step (8 chroma samples in 16-bit lanes) ----

// Per chroma sample: qh and ql of each channel.
struct Chroma128 {
  __m128i hR, lR, pG, hB, lB;
};

inline Chroma128 chromaTerms128(__m128i u16, __m128i v16) {
  const __m128i d = _mm_sub_epi16(u16, _mm_set1_epi16(128));
  const __m128i e = _mm_sub_epi16(v16, _mm_set1_epi16(128));
  const __m128i bias = _mm_set1_epi16(-4640);
  const __m128i low = _mm_set1_epi16(0xFF);
  const __m128i pR = _mm_add_epi16(_mm_mullo_epi16(e, opaque(_mm_set1_epi16(203))), bias);
  const __m128i pG = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(d, opaque(_mm_set1_epi16(-55))),
                                                 _mm_mullo_epi16(e, opaque(_mm_set1_epi16(-136)))),
                                   bias);
  const __m128i pB = _mm_add_epi16(_mm_mullo_epi16(d, opaque(_mm_set1_epi16(29))), bias);
  Chroma128 c;
  c.hR = _mm_add_epi16(e, _mm_srai_epi16(pR, 8));
  c.lR = _mm_and_si128(pR, low);
  c.pG = pG;
  c.hB = _mm_add_epi16(_mm_add_epi16(d, d), _mm_srai_epi16(pB, 8));
  c.lB = _mm_and_si128(pB, low);
  return c;
}

// Y + qh + ((42 Y + ql) >> 8), one lane per chroma sample.
inline __m128i channel128(__m128i y, __m128i y42, __m128i h, __m128i l) {
  return _mm_add_epi16(_mm_add_epi16(y, h), _mm_srli_epi16(_mm_add_epi16(y42, l), 8));
}

// Green's whole Q - 4768 fits in 16 bits, and so does 42 Y + P: one add less.
inline __m128i green128(__m128i y, __m128i y42, __m128i p) {
  return _mm_add_epi16(y, _mm_srai_epi16(_mm_add_epi16(y42, p), 8));
}

inline void pixels16Sse2(const std::uint8_t* y, const Chroma128& c, std::uint8_t* out) {
  const __m128i yBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i yEven = _mm_and_si128(yBytes, _mm_set1_epi16(0xFF));
  const __m128i yOdd = _mm_srli_epi16(yBytes, 8);
  const __m128i y42Even = _mm_mullo_epi16(yEven, opaque(_mm_set1_epi16(42)));
  const __m128i y42Odd = _mm_mullo_epi16(yOdd, opaque(_mm_set1_epi16(42)));

  // Each packed channel holds the even pixels, then the odd ones.
  const __m128i b = _mm_packus_epi16(channel128(yEven, y42Even, c.hB, c.lB),
                                     channel128(yOdd, y42Odd, c.hB, c.lB));
  const __m128i g = _mm_packus_epi16(green128(yEven, y42Even, c.pG), green128(yOdd, y42Odd, c.pG));
  const __m128i r = _mm_packus_epi16(channel128(yEven, y42Even, c.hR, c.lR),
                                     channel128(yOdd, y42Odd, c.hR, c.lR));
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

struct Chroma256 {
  __m256i hR, lR, pG, hB, lB;
};

MIRANDEL_AVX2 inline __m256i opaque(__m256i v) {
  asm("" : "+x"(v));
  return v;
}

MIRANDEL_AVX2 inline Chroma256 chromaTerms256(__m256i u16, __m256i v16) {
  const __m256i d = _mm256_sub_epi16(u16, _mm256_set1_epi16(128));
  const __m256i e = _mm256_sub_epi16(v16, _mm256_set1_epi16(128));
  const __m256i bias = _mm256_set1_epi16(-4640);
  const __m256i low = _mm256_set1_epi16(0xFF);
  const __m256i pR = _mm256_add_epi16(_mm256_mullo_epi16(e, opaque(_mm256_set1_epi16(203))), bias);
  const __m256i pG =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(d, opaque(_mm256_set1_epi16(-55))),
                                        _mm256_mullo_epi16(e, opaque(_mm256_set1_epi16(-136)))),
                       bias);
  const __m256i pB = _mm256_add_epi16(_mm256_mullo_epi16(d, opaque(_mm256_set1_epi16(29))), bias);
  Chroma256 c;
  c.hR = _mm256_add_epi16(e, _mm256_srai_epi16(pR, 8));
  c.lR = _mm256_and_si256(pR, low);
  c.pG = pG;
  c.hB = _mm256_add_epi16(_mm256_add_epi16(d, d), _mm256_srai_epi16(pB, 8));
  c.lB = _mm256_and_si256(pB, low);
  return c;
}

MIRANDEL_AVX2 inline __m256i green256(__m256i y, __m256i y42, __m256i p) {
  return _mm256_add_epi16(y, _mm256_srai_epi16(_mm256_add_epi16(y42, p), 8));
}

MIRANDEL_AVX2 inline __m256i channel256(__m256i y, __m256i y42, __m256i h, __m256i l) {
  return _mm256_add_epi16(_mm256_add_epi16(y, h), _mm256_srli_epi16(_mm256_add_epi16(y42, l), 8));
}

MIRANDEL_AVX2 inline void pixels32Avx2(const std::uint8_t* y, const Chroma256& c,
                                       std::uint8_t* out) {
  const __m256i yBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i yEven = _mm256_and_si256(yBytes, _mm256_set1_epi16(0xFF));
  const __m256i yOdd = _mm256_srli_epi16(yBytes, 8);
  const __m256i y42Even = _mm256_mullo_epi16(yEven, opaque(_mm256_set1_epi16(42)));
  const __m256i y42Odd = _mm256_mullo_epi16(yOdd, opaque(_mm256_set1_epi16(42)));

  const __m256i b = _mm256_packus_epi16(channel256(yEven, y42Even, c.hB, c.lB),
                                        channel256(yOdd, y42Odd, c.hB, c.lB));
  const __m256i g =
      _mm256_packus_epi16(green256(yEven, y42Even, c.pG), green256(yOdd, y42Odd, c.pG));
  const __m256i r = _mm256_packus_epi16(channel256(yEven, y42Even, c.hR, c.lR),
                                        channel256(yOdd, y42Odd, c.hR, c.lR));
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

}  // namespace

// Each entry converts one row, or two that share their chroma terms.

void nv12RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                  std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const Chroma128 c = chromaTerms128(_mm_and_si128(pairs, lowBytes), _mm_srli_epi16(pairs, 8));
    pixels16Sse2(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels16Sse2(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  nv12Tail(y0, uv, out0, x, width);
  if (y1 != nullptr) nv12Tail(y1, uv, out1, x, width);
}

void i420RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                  const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                  std::uint32_t width) {
  const __m128i zero = _mm_setzero_si128();
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const Chroma128 c = chromaTerms128(_mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero));
    pixels16Sse2(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels16Sse2(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  i420Tail(y0, u, v, out0, x, width);
  if (y1 != nullptr) i420Tail(y1, u, v, out1, x, width);
}

MIRANDEL_AVX2 void nv12RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1,
                                const std::uint8_t* uv, std::uint8_t* out0, std::uint8_t* out1,
                                std::uint32_t width) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv + x));
    const Chroma256 c =
        chromaTerms256(_mm256_and_si256(pairs, lowBytes), _mm256_srli_epi16(pairs, 8));
    pixels32Avx2(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels32Avx2(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  // SSE2 for the next 16 pixels, then the scalar tail.
  _mm256_zeroupper();
  const std::size_t o = 4 * static_cast<std::size_t>(x);
  nv12RowsSse2(y0 + x, y1 == nullptr ? nullptr : y1 + x, uv + x, out0 + o,
               out1 == nullptr ? nullptr : out1 + o, width - x);
}

MIRANDEL_AVX2 void i420RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1,
                                const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* out0,
                                std::uint8_t* out1, std::uint32_t width) {
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i u16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2)));
    const __m256i v16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2)));
    const Chroma256 c = chromaTerms256(u16, v16);
    pixels32Avx2(y0 + x, c, out0 + 4 * static_cast<std::size_t>(x));
    if (y1 != nullptr) pixels32Avx2(y1 + x, c, out1 + 4 * static_cast<std::size_t>(x));
  }
  _mm256_zeroupper();
  const std::size_t o = 4 * static_cast<std::size_t>(x);
  i420RowsSse2(y0 + x, y1 == nullptr ? nullptr : y1 + x, u + x / 2, v + x / 2, out0 + o,
               out1 == nullptr ? nullptr : out1 + o, width - x);
}

}  // namespace mirandel::simd
#endif
