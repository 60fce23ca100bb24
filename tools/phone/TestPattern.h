#pragma once
// The emulator's camera: a moving 8-bit 4:2:0 test picture carrying a stamp.
#include <cstdint>
#include <vector>

#include "tools/phone/Stamp.h"

namespace mirandel::phone {

// Planar 4:2:0, tightly packed: y is width x height, u and v are (width/2) x (height/2).
// Width and height are even.
struct YuvPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> y, u, v;
};

// Renders picture number `stamp.frame` of the moving pattern (diagonal colour bands drifting
// and a white block sweeping across) with the stamp drawn in the top-left corner and, with
// `secondStamp`, in the bottom-right one too where it fits (Stamp.h). The second stamp is
// asked for: its changing cells cost bits that a tight bit rate would take from the first.
// Reuses `out`'s buffers.
void renderTestPattern(const Stamp& stamp, int width, int height, YuvPicture& out,
                       bool secondStamp = false);

}  // namespace mirandel::phone
