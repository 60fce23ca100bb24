// SSE2 and AVX2 rows, bit-exact with the scalar rule.
//
// The rule's sums need 18 bits, too wide for 16-bit lanes. Each sum
// S = 298 y' + k1 d + k2 e + 128 (y' = Y - 16) is split as S = 8 K + T, with
// every coefficient written as 8 q + r: K = 37 y' + q1 d + q2 e + 16 and
// T = 2 y' + r1 d + r2 e. Then floor(S / 8) = K + floor(T / 8) exactly, both
// parts fit in 16 bits, and floor(S / 256) = floor(S / 8) >> 5; the final
// signed-to-unsigned saturating pack does the clamp.
//   R: 459 = 8 * 57 + 3      K = 37y' + 57e + 16,         T = 2y' + 3e
//   G: -55 = 8 * -7 + 1,     K = 37y' - 7d - 17e + 16,    T = 2y' + d
//      -136 = 8 * -17 + 0
//   B: 541 = 8 * 67 + 5      K = 37y' + 67d + 16,         T = 2y' + 5d
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

// ---- SSE2: 16 pixels per step (8 chroma samples in 16-bit lanes) ----

struct Chroma128 {
  __m128i kR, tR, kG, tG, kB, tB;
};

inline Chroma128 chromaTerms128(__m128i u16, __m128i v16) {
  const __m128i d = _mm_sub_epi16(u16, _mm_set1_epi16(128));
  const __m128i e = _mm_sub_epi16(v16, _mm_set1_epi16(128));
  const __m128i bias = _mm_set1_epi16(16);
  Chroma128 c;
  c.kR = _mm_add_epi16(_mm_mullo_epi16(e, _mm_set1_epi16(57)), bias);
  c.tR = _mm_mullo_epi16(e, _mm_set1_epi16(3));
  c.kG = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(d, _mm_set1_epi16(-7)),
                                     _mm_mullo_epi16(e, _mm_set1_epi16(-17))),
                       bias);
  c.tG = d;
  c.kB = _mm_add_epi16(_mm_mullo_epi16(d, _mm_set1_epi16(67)), bias);
  c.tB = _mm_mullo_epi16(d, _mm_set1_epi16(5));
  return c;
}

// floor(S / 256) for 8 pixels, given 37y', 2y' and the chroma terms already
// spread to one lane per pixel.
inline __m128i channel128(__m128i y37, __m128i y2, __m128i k, __m128i t) {
  const __m128i frac = _mm_srai_epi16(_mm_add_epi16(y2, t), 3);
  return _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(y37, k), frac), 5);
}

inline void pixels16Sse2(const std::uint8_t* y, const Chroma128& c, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i yBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i off = _mm_set1_epi16(16);
  const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(yBytes, zero), off);
  const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(yBytes, zero), off);
  const __m128i y37Lo = _mm_mullo_epi16(yLo, _mm_set1_epi16(37));
  const __m128i y37Hi = _mm_mullo_epi16(yHi, _mm_set1_epi16(37));
  const __m128i y2Lo = _mm_add_epi16(yLo, yLo);
  const __m128i y2Hi = _mm_add_epi16(yHi, yHi);

  auto channel = [&](__m128i k, __m128i t) {
    const __m128i lo = channel128(y37Lo, y2Lo, _mm_unpacklo_epi16(k, k), _mm_unpacklo_epi16(t, t));
    const __m128i hi = channel128(y37Hi, y2Hi, _mm_unpackhi_epi16(k, k), _mm_unpackhi_epi16(t, t));
    return _mm_packus_epi16(lo, hi);
  };
  const __m128i b = channel(c.kB, c.tB);
  const __m128i g = channel(c.kG, c.tG);
  const __m128i r = channel(c.kR, c.tR);
  const __m128i a = _mm_set1_epi8(static_cast<char>(0xFF));

  const __m128i bgLo = _mm_unpacklo_epi8(b, g);
  const __m128i bgHi = _mm_unpackhi_epi8(b, g);
  const __m128i raLo = _mm_unpacklo_epi8(r, a);
  const __m128i raHi = _mm_unpackhi_epi8(r, a);
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, _mm_unpacklo_epi16(bgLo, raLo));
  _mm_storeu_si128(dst + 1, _mm_unpackhi_epi16(bgLo, raLo));
  _mm_storeu_si128(dst + 2, _mm_unpacklo_epi16(bgHi, raHi));
  _mm_storeu_si128(dst + 3, _mm_unpackhi_epi16(bgHi, raHi));
}

// ---- AVX2: 32 pixels per step ----
// Unpacks work within 128-bit lanes; the lane pattern of the luma unpacks
// matches that of the chroma spreads, and the final pack restores pixel order,
// so only the last interleave needs a cross-lane permute.

#define MIRANDEL_AVX2 __attribute__((target("avx2")))

struct Chroma256 {
  __m256i kR, tR, kG, tG, kB, tB;
};

MIRANDEL_AVX2 inline Chroma256 chromaTerms256(__m256i u16, __m256i v16) {
  const __m256i d = _mm256_sub_epi16(u16, _mm256_set1_epi16(128));
  const __m256i e = _mm256_sub_epi16(v16, _mm256_set1_epi16(128));
  const __m256i bias = _mm256_set1_epi16(16);
  Chroma256 c;
  c.kR = _mm256_add_epi16(_mm256_mullo_epi16(e, _mm256_set1_epi16(57)), bias);
  c.tR = _mm256_mullo_epi16(e, _mm256_set1_epi16(3));
  c.kG = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(d, _mm256_set1_epi16(-7)),
                                           _mm256_mullo_epi16(e, _mm256_set1_epi16(-17))),
                          bias);
  c.tG = d;
  c.kB = _mm256_add_epi16(_mm256_mullo_epi16(d, _mm256_set1_epi16(67)), bias);
  c.tB = _mm256_mullo_epi16(d, _mm256_set1_epi16(5));
  return c;
}

MIRANDEL_AVX2 inline __m256i channel256(__m256i y37, __m256i y2, __m256i k, __m256i t) {
  const __m256i frac = _mm256_srai_epi16(_mm256_add_epi16(y2, t), 3);
  return _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(y37, k), frac), 5);
}

MIRANDEL_AVX2 inline __m256i pack256(__m256i y37Lo, __m256i y2Lo, __m256i y37Hi, __m256i y2Hi,
                                     __m256i k, __m256i t) {
  const __m256i lo =
      channel256(y37Lo, y2Lo, _mm256_unpacklo_epi16(k, k), _mm256_unpacklo_epi16(t, t));
  const __m256i hi =
      channel256(y37Hi, y2Hi, _mm256_unpackhi_epi16(k, k), _mm256_unpackhi_epi16(t, t));
  return _mm256_packus_epi16(lo, hi);
}

MIRANDEL_AVX2 inline void pixels32Avx2(const std::uint8_t* y, const Chroma256& c,
                                       std::uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i yBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i off = _mm256_set1_epi16(16);
  // Lanes: yLo = pixels [0..7 | 16..23], yHi = [8..15 | 24..31].
  const __m256i yLo = _mm256_sub_epi16(_mm256_unpacklo_epi8(yBytes, zero), off);
  const __m256i yHi = _mm256_sub_epi16(_mm256_unpackhi_epi8(yBytes, zero), off);
  const __m256i y37Lo = _mm256_mullo_epi16(yLo, _mm256_set1_epi16(37));
  const __m256i y37Hi = _mm256_mullo_epi16(yHi, _mm256_set1_epi16(37));
  const __m256i y2Lo = _mm256_add_epi16(yLo, yLo);
  const __m256i y2Hi = _mm256_add_epi16(yHi, yHi);

  const __m256i b = pack256(y37Lo, y2Lo, y37Hi, y2Hi, c.kB, c.tB);
  const __m256i g = pack256(y37Lo, y2Lo, y37Hi, y2Hi, c.kG, c.tG);
  const __m256i r = pack256(y37Lo, y2Lo, y37Hi, y2Hi, c.kR, c.tR);
  const __m256i a = _mm256_set1_epi8(static_cast<char>(0xFF));

  const __m256i bgLo = _mm256_unpacklo_epi8(b, g);  // [0..7 | 16..23]
  const __m256i bgHi = _mm256_unpackhi_epi8(b, g);  // [8..15 | 24..31]
  const __m256i raLo = _mm256_unpacklo_epi8(r, a);
  const __m256i raHi = _mm256_unpackhi_epi8(r, a);
  const __m256i q0 = _mm256_unpacklo_epi16(bgLo, raLo);  // [0..3 | 16..19]
  const __m256i q1 = _mm256_unpackhi_epi16(bgLo, raLo);  // [4..7 | 20..23]
  const __m256i q2 = _mm256_unpacklo_epi16(bgHi, raHi);  // [8..11 | 24..27]
  const __m256i q3 = _mm256_unpackhi_epi16(bgHi, raHi);  // [12..15 | 28..31]
  __m256i* dst = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(dst + 0, _mm256_permute2x128_si256(q0, q1, 0x20));
  _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(q2, q3, 0x20));
  _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(q0, q1, 0x31));
  _mm256_storeu_si256(dst + 3, _mm256_permute2x128_si256(q2, q3, 0x31));
}

}  // namespace

void nv12RowSse2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                 std::uint32_t width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const Chroma128 c = chromaTerms128(_mm_and_si128(pairs, lowBytes), _mm_srli_epi16(pairs, 8));
    pixels16Sse2(y + x, c, bgra + 4 * static_cast<std::size_t>(x));
  }
  nv12Tail(y, uv, bgra, x, width);
}

void i420RowSse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                 std::uint8_t* bgra, std::uint32_t width) {
  const __m128i zero = _mm_setzero_si128();
  std::uint32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const Chroma128 c = chromaTerms128(_mm_unpacklo_epi8(u8, zero), _mm_unpacklo_epi8(v8, zero));
    pixels16Sse2(y + x, c, bgra + 4 * static_cast<std::size_t>(x));
  }
  i420Tail(y, u, v, bgra, x, width);
}

MIRANDEL_AVX2 void nv12RowAvx2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                               std::uint32_t width) {
  const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i pairs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(uv + x));
    const Chroma256 c =
        chromaTerms256(_mm256_and_si256(pairs, lowBytes), _mm256_srli_epi16(pairs, 8));
    pixels32Avx2(y + x, c, bgra + 4 * static_cast<std::size_t>(x));
  }
  // One SSE2 step for the next 16 pixels, then the scalar tail.
  _mm256_zeroupper();
  nv12RowSse2(y + x, uv + x, bgra + 4 * static_cast<std::size_t>(x), width - x);
}

MIRANDEL_AVX2 void i420RowAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                               std::uint8_t* bgra, std::uint32_t width) {
  std::uint32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i u16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2)));
    const __m256i v16 =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2)));
    pixels32Avx2(y + x, chromaTerms256(u16, v16), bgra + 4 * static_cast<std::size_t>(x));
  }
  _mm256_zeroupper();
  i420RowSse2(y + x, u + x / 2, v + x / 2, bgra + 4 * static_cast<std::size_t>(x), width - x);
}

}  // namespace mirandel::simd
#endif
