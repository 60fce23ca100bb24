#pragma once
// Reading the phone emulator's stamp back out of a drawn frame. The clip scales the picture
// into the host's viewport, so the stamp's cells are found by mapping picture pixels to frame
// pixels the way fit, fill and stretch place the picture, then sampled back at the picture's
// own size where the stamp reader expects them.
#include <cstdint>
#include <optional>

#include "tools/host/RgbaImage.h"
#include "tools/phone/Stamp.h"

namespace mirandel::host {

enum class FitMode { kFit = 0, kFill = 1, kStretch = 2 };

// Where a picture lands in a frame: frame pixel x of picture pixel column p (measured at
// pixel edges) is left + p * scaleX; likewise down from the top row.
struct Placement {
  double left = 0, top = 0;
  double scaleX = 1, scaleY = 1;
};

// Centred placement of a picW x picH picture in a frameW x frameH frame (all non-zero).
Placement placePicture(std::uint32_t frameW, std::uint32_t frameH, std::uint32_t picW,
                       std::uint32_t picH, FitMode fit);

// A frame rectangle, top-left origin, already clipped to the frame.
struct FrameRect {
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
};

// The part of the frame that shows the stamp in `corner` of a picW x picH picture; empty when
// the picture cannot carry one there or the stamp lies outside the frame.
FrameRect stampRect(const Placement& placement, std::uint32_t frameW, std::uint32_t frameH,
                    std::uint32_t picW, std::uint32_t picH,
                    phone::StampCorner corner = phone::StampCorner::kTopLeft);

// Reads the stamp in `corner` from `region`, the RGBA pixels of frame rectangle `rect`
// (typically stampRect read back), of a picture of picW x picH placed by `placement`.
std::optional<phone::Stamp> readDrawnStamp(
    const RgbaImage& region, const FrameRect& rect, const Placement& placement, std::uint32_t picW,
    std::uint32_t picH, phone::StampCorner corner = phone::StampCorner::kTopLeft);

}  // namespace mirandel::host
