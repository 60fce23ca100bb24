#pragma once
// SIMD rows behind Yuv420ToBgra.h (internal). Built with per-function target
// attributes so the library keeps the default -march and runs everywhere; the
// caller picks a row only when the CPU reports the feature.
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRANDEL_HAVE_X86_SIMD 1
#else
#define MIRANDEL_HAVE_X86_SIMD 0
#endif

#if MIRANDEL_HAVE_X86_SIMD
namespace mirandel::simd {

void nv12RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                  std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
void i420RowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                  const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                  std::uint32_t width);
void nv12RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                  std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
void i420RowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                  const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                  std::uint32_t width);

}  // namespace mirandel::simd
#endif
