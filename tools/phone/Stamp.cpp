#include "tools/phone/Stamp.h"

#include <array>

namespace mirandel::phone {

namespace {

// 16 columns by 7 rows: frame number (2 rows), send time (4 rows), check word (1 row), placed
// one cell in from the top-left corner.
constexpr int kColumns = 16;
constexpr int kRows = 7;
constexpr int kBits = kColumns * kRows;

std::uint16_t checkWord(std::uint32_t frame, std::uint64_t micros) {
  std::uint32_t h = 2166136261u;  // FNV-1a over the eight time bytes and four frame bytes
  for (int i = 0; i < 8; ++i) h = (h ^ static_cast<std::uint8_t>(micros >> (8 * i))) * 16777619u;
  for (int i = 0; i < 4; ++i) h = (h ^ static_cast<std::uint8_t>(frame >> (8 * i))) * 16777619u;
  return static_cast<std::uint16_t>(h ^ (h >> 16));
}

std::array<bool, kBits> toBits(const Stamp& s) {
  std::array<bool, kBits> bits{};
  for (int i = 0; i < 32; ++i) bits[i] = (s.frame >> (31 - i)) & 1;
  for (int i = 0; i < 64; ++i) bits[32 + i] = (s.sentMicros >> (63 - i)) & 1;
  const std::uint16_t check = checkWord(s.frame, s.sentMicros);
  for (int i = 0; i < 16; ++i) bits[96 + i] = (check >> (15 - i)) & 1;
  return bits;
}

}  // namespace

int stampCellSize(int width) { return width >= 640 ? 16 : 8; }

int stampAreaWidth(int width) { return (kColumns + 2) * stampCellSize(width); }
int stampAreaHeight(int width) { return (kRows + 2) * stampCellSize(width); }

bool stampFits(int width, int height, StampCorner corner) {
  const int areaW = stampAreaWidth(width), areaH = stampAreaHeight(width);
  if (corner == StampCorner::kBottomRight) return width >= 2 * areaW && height >= areaH;
  return width >= areaW && height >= areaH;
}

// Both are even for even picture sizes, which keeps the cells on whole chroma samples.
int stampAreaLeft(int width, StampCorner corner) {
  return corner == StampCorner::kBottomRight ? width - stampAreaWidth(width) : 0;
}

int stampAreaTop(int width, int height, StampCorner corner) {
  return corner == StampCorner::kBottomRight ? height - stampAreaHeight(width) : 0;
}

void drawStamp(const Stamp& stamp, std::uint8_t* y, std::size_t yStride, std::uint8_t* u,
               std::uint8_t* v, std::size_t chromaStride, int width, int height,
               StampCorner corner) {
  if (!stampFits(width, height, corner)) return;
  const int c = stampCellSize(width);
  const int left = stampAreaLeft(width, corner), top = stampAreaTop(width, height, corner);
  const auto bits = toBits(stamp);
  for (int row = 0; row < kRows; ++row) {
    for (int col = 0; col < kColumns; ++col) {
      const std::uint8_t level = bits[row * kColumns + col] ? 235 : 16;
      const int x0 = left + (col + 1) * c;
      const int y0 = top + (row + 1) * c;
      for (int yy = y0; yy < y0 + c; ++yy) {
        for (int xx = x0; xx < x0 + c; ++xx) y[yy * yStride + xx] = level;
      }
      for (int yy = y0 / 2; yy < (y0 + c) / 2; ++yy) {
        for (int xx = x0 / 2; xx < (x0 + c) / 2; ++xx) {
          u[yy * chromaStride + xx] = 128;
          v[yy * chromaStride + xx] = 128;
        }
      }
    }
  }
}

std::optional<Stamp> readStamp(const std::uint8_t* bgra, std::size_t stride, int width, int height,
                               StampCorner corner) {
  if (!bgra || !stampFits(width, height, corner)) return std::nullopt;
  const int c = stampCellSize(width);
  const int left = stampAreaLeft(width, corner), top = stampAreaTop(width, height, corner);
  std::array<bool, kBits> bits{};
  for (int row = 0; row < kRows; ++row) {
    for (int col = 0; col < kColumns; ++col) {
      // The middle half of the cell, away from coding artefacts at its edges.
      const int x0 = left + (col + 1) * c + c / 4;
      const int y0 = top + (row + 1) * c + c / 4;
      unsigned sum = 0;
      for (int yy = y0; yy < y0 + c / 2; ++yy) {
        const std::uint8_t* p = bgra + yy * stride + x0 * 4;
        for (int xx = 0; xx < c / 2; ++xx, p += 4) sum += p[0] + p[1] + p[2];
      }
      const unsigned samples = 3u * (c / 2) * (c / 2);
      bits[row * kColumns + col] = sum >= 128u * samples;
    }
  }
  Stamp s;
  for (int i = 0; i < 32; ++i) s.frame = (s.frame << 1) | bits[i];
  for (int i = 0; i < 64; ++i) s.sentMicros = (s.sentMicros << 1) | bits[32 + i];
  std::uint16_t check = 0;
  for (int i = 0; i < 16; ++i) check = static_cast<std::uint16_t>((check << 1) | bits[96 + i]);
  if (check != checkWord(s.frame, s.sentMicros)) return std::nullopt;
  return s;
}

}  // namespace mirandel::phone
