#pragma once
// The 10-bit and linear-light AVX2 rows work out eight chroma samples' terms
// at a time, one per 32-bit lane, for the sixteen pixels that share them.
// For the SIMD rows' own files: these are built for AVX2.
#include <immintrin.h>

#define MIRANDEL_AVX2 __attribute__((target("avx2")))

namespace mirandel::simd {

// The terms of pixels 8 half .. 8 half + 7: each lane's term twice, side by
// side.
MIRANDEL_AVX2 inline __m256i spreadIndex(int half) {
  return half == 0 ? _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3)
                   : _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
}
MIRANDEL_AVX2 inline __m256i spreadHalf(__m256i terms, int half) {
  return _mm256_permutevar8x32_epi32(terms, spreadIndex(half));
}
MIRANDEL_AVX2 inline __m256 spreadHalf(__m256 terms, int half) {
  return _mm256_permutevar8x32_ps(terms, spreadIndex(half));
}

}  // namespace mirandel::simd
