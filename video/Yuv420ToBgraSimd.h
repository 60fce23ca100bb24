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

void nv12RowSse2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                 std::uint32_t width);
void i420RowSse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                 std::uint8_t* bgra, std::uint32_t width);
void nv12RowAvx2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* bgra,
                 std::uint32_t width);
void i420RowAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v,
                 std::uint8_t* bgra, std::uint32_t width);

}  // namespace mirandel::simd
#endif
