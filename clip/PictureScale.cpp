#include "clip/PictureScale.h"

namespace mirandel {

Scale pictureScale(std::uint32_t textureWidth, std::uint32_t textureHeight,
                   std::uint32_t viewportWidth, std::uint32_t viewportHeight, std::int32_t fitMode,
                   bool hasPicture) {
  Scale s;
  if (!hasPicture || fitMode == kStretch || viewportWidth == 0 || viewportHeight == 0 ||
      textureHeight == 0)
    return s;
  const float r = (static_cast<float>(textureWidth) / static_cast<float>(textureHeight)) /
                  (static_cast<float>(viewportWidth) / static_cast<float>(viewportHeight));
  if (fitMode == kFit) {
    if (r < 1.0f)
      s.x = r;
    else
      s.y = 1.0f / r;
  } else if (fitMode == kFill) {
    if (r > 1.0f)
      s.x = r;
    else
      s.y = 1.0f / r;
  }
  return s;
}

}  // namespace mirandel
