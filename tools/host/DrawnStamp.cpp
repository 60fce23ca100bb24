#include "tools/host/DrawnStamp.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace mirandel::host {
namespace {

// The stamp grid is 16 x 7 cells placed one cell in from the corner (tools/phone/Stamp.cpp).
constexpr std::uint32_t kStampCellsWide = 18;
constexpr std::uint32_t kStampCellsHigh = 9;

}  // namespace

Placement placePicture(std::uint32_t frameW, std::uint32_t frameH, std::uint32_t picW,
                       std::uint32_t picH, FitMode fit) {
  // Fraction of the frame the picture spans along each axis.
  double spanX = 1, spanY = 1;
  const double r = (static_cast<double>(picW) / picH) / (static_cast<double>(frameW) / frameH);
  if (fit == FitMode::kFit) {
    if (r < 1)
      spanX = r;
    else
      spanY = 1 / r;
  } else if (fit == FitMode::kFill) {
    if (r > 1)
      spanX = r;
    else
      spanY = 1 / r;
  }
  Placement p;
  p.scaleX = frameW * spanX / picW;
  p.scaleY = frameH * spanY / picH;
  p.left = frameW * (1 - spanX) / 2;
  p.top = frameH * (1 - spanY) / 2;
  return p;
}

FrameRect stampRect(const Placement& placement, std::uint32_t frameW, std::uint32_t frameH,
                    std::uint32_t picW, std::uint32_t picH) {
  const int w = static_cast<int>(picW), h = static_cast<int>(picH);
  if (!phone::stampFits(w, h)) return {};
  const int cell = phone::stampCellSize(w);
  const double x0 = std::floor(placement.left);
  const double y0 = std::floor(placement.top);
  const double x1 = std::ceil(placement.left + kStampCellsWide * cell * placement.scaleX);
  const double y1 = std::ceil(placement.top + kStampCellsHigh * cell * placement.scaleY);
  const double cx0 = std::max(x0, 0.0), cy0 = std::max(y0, 0.0);
  const double cx1 = std::min(x1, static_cast<double>(frameW));
  const double cy1 = std::min(y1, static_cast<double>(frameH));
  if (cx1 <= cx0 || cy1 <= cy0) return {};
  return {static_cast<std::uint32_t>(cx0), static_cast<std::uint32_t>(cy0),
          static_cast<std::uint32_t>(cx1 - cx0), static_cast<std::uint32_t>(cy1 - cy0)};
}

std::optional<phone::Stamp> readDrawnStamp(const RgbaImage& region, const FrameRect& rect,
                                           const Placement& placement, std::uint32_t picW,
                                           std::uint32_t picH) {
  const int w = static_cast<int>(picW), h = static_cast<int>(picH);
  if (!phone::stampFits(w, h) || region.width == 0 || region.height == 0) return std::nullopt;
  const std::uint32_t cell = static_cast<std::uint32_t>(phone::stampCellSize(w));
  const std::uint32_t patchW = kStampCellsWide * cell, patchH = kStampCellsHigh * cell;
  // The reader takes the picture's width for its cell size but only looks inside the stamp's
  // cells, so a picture-wide patch of stamp height, filled only under the stamp, suffices.
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(picW) * patchH * 4, 0);
  for (std::uint32_t py = 0; py < patchH; ++py) {
    const double fy = std::floor(placement.top + (py + 0.5) * placement.scaleY) - rect.y;
    if (fy < 0 || fy >= region.height) return std::nullopt;  // stamp cropped away
    for (std::uint32_t px = 0; px < patchW; ++px) {
      const double fx = std::floor(placement.left + (px + 0.5) * placement.scaleX) - rect.x;
      if (fx < 0 || fx >= region.width) return std::nullopt;
      const std::uint8_t* s =
          region.at(static_cast<std::uint32_t>(fx), static_cast<std::uint32_t>(fy));
      std::uint8_t* d = bgra.data() + (static_cast<std::size_t>(py) * picW + px) * 4;
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
      d[3] = s[3];
    }
  }
  return phone::readStamp(bgra.data(), static_cast<std::size_t>(picW) * 4, w,
                          static_cast<int>(patchH));
}

}  // namespace mirandel::host
