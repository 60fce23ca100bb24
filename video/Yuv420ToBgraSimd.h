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

// The scalar 10-bit rows from an even column x0 on: the SIMD rows' tail.
void wideRowsFrom(const YuvPicture& picture, std::uint32_t row, std::uint32_t x0,
                  std::uint8_t* out0, std::uint8_t* out1);

}  // namespace mirandel::simd

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

// The same for full range.
void nv12FullRowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                      std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
void i420FullRowsSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                      const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                      std::uint32_t width);
void nv12FullRowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* uv,
                      std::uint8_t* out0, std::uint8_t* out1, std::uint32_t width);
void i420FullRowsAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                      const std::uint8_t* v, std::uint8_t* out0, std::uint8_t* out1,
                      std::uint32_t width);

// 10-bit rows, any layout and range.
void wideRowsAvx2(const YuvPicture& picture, std::uint32_t row, std::uint8_t* out0,
                  std::uint8_t* out1);

}  // namespace mirandel::simd
#endif
