#pragma once
// A machine-readable stamp drawn into the emulator's pictures: the frame number and the send
// time, as a grid of black and white cells large enough to survive lossy coding. The reader
// works on the BGRA pictures the decoder delivers, so tests and latency measurements can read
// it straight from what the clip draws.
//
// The stamp sits in the top-left corner. It may be drawn in the bottom-right corner too: a
// picture is coded top to bottom, so a picture decoded from damaged data (lost packets
// concealed from an older picture, or a reference that was itself damaged) shows a
// bottom-right stamp that is unreadable or names another picture than the top-left one.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace mirandel::phone {

struct Stamp {
  std::uint32_t frame = 0;
  std::uint64_t sentMicros = 0;  // steady clock, microseconds
  bool operator==(const Stamp&) const = default;
};

enum class StampCorner { kTopLeft, kBottomRight };

// Side of one cell in pixels for a picture of this width (8 below 640 pixels, else 16).
int stampCellSize(int width);
// Whether a picture of this size can carry the stamp in that corner. The bottom-right one is
// drawn only where it lies clear of the top-left one.
bool stampFits(int width, int height, StampCorner corner = StampCorner::kTopLeft);
// Top-left pixel of the stamp's area (its cells and the one-cell margin around them) in a
// picture of this size that can carry it there; the area is stampAreaWidth x stampAreaHeight.
int stampAreaLeft(int width, StampCorner corner);
int stampAreaTop(int width, int height, StampCorner corner);
int stampAreaWidth(int width);
int stampAreaHeight(int width);

// Draws the stamp into 8-bit 4:2:0 planes: luma 16 or 235 per cell and neutral chroma under
// the grid, so the cells stay black and white whatever lies around them.
void drawStamp(const Stamp& stamp, std::uint8_t* y, std::size_t yStride, std::uint8_t* u,
               std::uint8_t* v, std::size_t chromaStride, int width, int height,
               StampCorner corner = StampCorner::kTopLeft);

// Reads the stamp from a BGRA picture (top row first); nullopt when none is found or its check
// word does not match.
std::optional<Stamp> readStamp(const std::uint8_t* bgra, std::size_t stride, int width, int height,
                               StampCorner corner = StampCorner::kTopLeft);

}  // namespace mirandel::phone
