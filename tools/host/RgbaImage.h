#pragma once
// Read-back pixels: 8-bit R, G, B, A per pixel, rows from the top of the
// picture down, no padding between rows.
#include <cstdint>
#include <vector>

namespace mirandel::host {

struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 4 bytes

  const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const {
    return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
  }
};

}  // namespace mirandel::host
