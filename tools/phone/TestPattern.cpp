#include "tools/phone/TestPattern.h"

namespace mirandel::phone {

namespace {

// A triangle wave of period 256 with values 0..127: smooth bands without hard edges, so the
// encoder spends its bits evenly and keeps the stamp sharp.
std::uint8_t band(int v) {
  v &= 255;
  return static_cast<std::uint8_t>(v < 128 ? v : 255 - v);
}

}  // namespace

void renderTestPattern(const Stamp& stamp, int width, int height, YuvPicture& out,
                       bool secondStamp) {
  out.width = width;
  out.height = height;
  const int cw = width / 2;
  const int ch = height / 2;
  out.y.resize(static_cast<std::size_t>(width) * height);
  out.u.resize(static_cast<std::size_t>(cw) * ch);
  out.v.resize(static_cast<std::size_t>(cw) * ch);
  // Only the low bits move the pattern; keeping them small keeps the arithmetic in range.
  const int t = static_cast<int>(stamp.frame & 0xFFFF);
  const int block = height / 4;
  const int blockX = (t * 8) % (width + block) - block;
  const int blockY = height / 2 - block / 2;
  for (int yy = 0; yy < height; ++yy) {
    std::uint8_t* row = out.y.data() + static_cast<std::size_t>(yy) * width;
    const bool inBlockRows = yy >= blockY && yy < blockY + block;
    for (int xx = 0; xx < width; ++xx) {
      const bool inBlock = inBlockRows && xx >= blockX && xx < blockX + block;
      row[xx] = inBlock ? 235 : static_cast<std::uint8_t>(48 + band(xx + yy + 2 * t));
    }
  }
  for (int yy = 0; yy < ch; ++yy) {
    for (int xx = 0; xx < cw; ++xx) {
      const std::size_t i = static_cast<std::size_t>(yy) * cw + xx;
      out.u[i] = static_cast<std::uint8_t>(64 + band(xx * 2 + t));
      out.v[i] = static_cast<std::uint8_t>(64 + band(yy * 2 + 3 * t));
    }
  }
  drawStamp(stamp, out.y.data(), width, out.u.data(), out.v.data(), cw, width, height);
  if (secondStamp) {
    drawStamp(stamp, out.y.data(), width, out.u.data(), out.v.data(), cw, width, height,
              StampCorner::kBottomRight);
  }
}

}  // namespace mirandel::phone
