#pragma once
// How the picture is scaled into the viewport for each fit mode.
#include <cstdint>

namespace mirandel {

enum FitMode : std::int32_t { kFit = 0, kFill = 1, kStretch = 2 };

struct Scale {
  float x = 1.0f;
  float y = 1.0f;
};

// The quad's texture coordinates are divided by this scale around the centre:
// a component below 1 leaves transparent bands, above 1 crops.
Scale pictureScale(std::uint32_t textureWidth, std::uint32_t textureHeight,
                   std::uint32_t viewportWidth, std::uint32_t viewportHeight, std::int32_t fitMode,
                   bool hasPicture);

}  // namespace mirandel
