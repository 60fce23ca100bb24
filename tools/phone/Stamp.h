#pragma once
// A machine-readable stamp drawn into the emulator's pictures: the frame number and the send
// time, as a grid of black and white cells large enough to survive lossy coding. The reader
// works on the BGRA pictures the decoder delivers, so tests and latency measurements can read
// it straight from what the clip draws.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace mirandel::phone {

struct Stamp {
  std::uint32_t frame = 0;
  std::uint64_t sentMicros = 0;  // steady clock, microseconds
  bool operator==(const Stamp&) const = default;
};

// Side of one cell in pixels for a picture of this width (8 below 640 pixels, else 16).
int stampCellSize(int width);
// Whether a picture of this size can carry the stamp.
bool stampFits(int width, int height);

// Draws the stamp into 8-bit 4:2:0 planes: luma 16 or 235 per cell and neutral chroma under
// the grid, so the cells stay black and white whatever lies around them.
void drawStamp(const Stamp& stamp, std::uint8_t* y, std::size_t yStride, std::uint8_t* u,
               std::uint8_t* v, std::size_t chromaStride, int width, int height);

// Reads the stamp from a BGRA picture (top row first); nullopt when none is found or its check
// word does not match.
std::optional<Stamp> readStamp(const std::uint8_t* bgra, std::size_t stride, int width, int height);

}  // namespace mirandel::phone
