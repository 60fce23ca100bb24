#include "tools/host/DrawnStamp.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace mirandel::host {
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
                    std::uint32_t picW, std::uint32_t picH, phone::StampCorner corner) {
  const int w = static_cast<int>(picW), h = static_cast<int>(picH);
  if (!phone::stampFits(w, h, corner)) return {};
  const double left = placement.left + phone::stampAreaLeft(w, corner) * placement.scaleX;
  const double top = placement.top + phone::stampAreaTop(w, h, corner) * placement.scaleY;
  const double x0 = std::floor(left);
  const double y0 = std::floor(top);
  const double x1 = std::ceil(left + phone::stampAreaWidth(w) * placement.scaleX);
  const double y1 = std::ceil(top + phone::stampAreaHeight(w) * placement.scaleY);
  const double cx0 = std::max(x0, 0.0), cy0 = std::max(y0, 0.0);
  const double cx1 = std::min(x1, static_cast<double>(frameW));
  const double cy1 = std::min(y1, static_cast<double>(frameH));
  if (cx1 <= cx0 || cy1 <= cy0) return {};
  return {static_cast<std::uint32_t>(cx0), static_cast<std::uint32_t>(cy0),
          static_cast<std::uint32_t>(cx1 - cx0), static_cast<std::uint32_t>(cy1 - cy0)};
}

std::optional<phone::Stamp> readDrawnStamp(const RgbaImage& region, const FrameRect& rect,
                                           const Placement& placement, std::uint32_t picW,
                                           std::uint32_t picH, phone::StampCorner corner) {
  const int w = static_cast<int>(picW), h = static_cast<int>(picH);
  if (!phone::stampFits(w, h, corner) || region.width == 0 || region.height == 0) {
    return std::nullopt;
  }
  const auto areaLeft = static_cast<std::uint32_t>(phone::stampAreaLeft(w, corner));
  const auto areaTop = static_cast<std::uint32_t>(phone::stampAreaTop(w, h, corner));
  const auto areaW = static_cast<std::uint32_t>(phone::stampAreaWidth(w));
  const auto patchH = static_cast<std::uint32_t>(phone::stampAreaHeight(w));
  // The reader takes the picture's width for its cell size but only looks inside the stamp's
  // cells, so a picture-wide patch of stamp height, filled only under the stamp, suffices.
  // Its rows are the picture's from the top of the stamp's area; as tall as that area, it
  // puts a bottom-right stamp where the reader looks for one.
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(picW) * patchH * 4, 0);
  for (std::uint32_t py = 0; py < patchH; ++py) {
    const double fy = std::floor(placement.top + (areaTop + py + 0.5) * placement.scaleY) - rect.y;
    if (fy < 0 || fy >= region.height) return std::nullopt;  // stamp cropped away
    for (std::uint32_t px = areaLeft; px < areaLeft + areaW; ++px) {
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
                          static_cast<int>(patchH), corner);
}

}  // namespace mirandel::host
