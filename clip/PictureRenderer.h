#pragma once
// Draws the newest picture of a FrameSlot over the host's viewport. Host GL
// thread only, with the host's context current.
#include <cstdint>
#include <vector>

#include "clip/FrameSlot.h"
#include "ffglex/FFGLScreenQuad.h"
#include "ffglex/FFGLShader.h"
#include "ffgl/FFGL.h"

namespace mirandel {

// The newest picture taken that GL did not accept: it is not on screen, and the
// texture keeps the picture before it. limit is GL's largest texture side when
// the picture exceeds it, 0 when GL refused it for another reason.
struct UploadFailure {
  bool failed = false;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t limit = 0;
};

class PictureRenderer {
 public:
  PictureRenderer() = default;
  ~PictureRenderer() = default;
  PictureRenderer(const PictureRenderer&) = delete;
  PictureRenderer& operator=(const PictureRenderer&) = delete;

  // Answers false after releasing whatever it made.
  bool init();
  // Safe on a partly initialised renderer.
  void deinit();
  // Takes a new picture if one waits, uploads it, draws. Whatever GL state the
  // host left set, the picture comes out the same and the host's state is
  // back as it was on return.
  void draw(FrameSlot& slot, const FFGLViewportStruct& viewport, std::int32_t fitMode,
            float grainAmount);

  // The size of the picture in the texture, 0x0 before the first upload.
  std::uint32_t textureWidth() const { return textureWidth_; }
  std::uint32_t textureHeight() const { return textureHeight_; }
  std::uint32_t framesTaken() const { return frameCounter_; }
  bool hasPicture() const { return hasPicture_; }
  // Uploads that had to allocate texture storage.
  std::uint32_t allocations() const { return allocations_; }
  // Cleared by the next picture uploaded.
  const UploadFailure& uploadFailure() const { return uploadFailure_; }

 private:
  // With the texture bound on unit 0.
  void upload(std::uint32_t width, std::uint32_t height);

  ffglex::FFGLShader shader_;
  ffglex::FFGLScreenQuad quad_;
  GLuint texture_ = 0;
  std::uint32_t textureWidth_ = 0;
  std::uint32_t textureHeight_ = 0;
  std::uint32_t maxTextureSize_ = 0;
  UploadFailure uploadFailure_;
  GLint scaleLoc_ = -1, opacityLoc_ = -1, grainAmountLoc_ = -1, grainSeedLoc_ = -1,
        texSizeLoc_ = -1, pictureLoc_ = -1;
  std::uint32_t frameCounter_ = 0;
  std::uint32_t allocations_ = 0;
  bool hasPicture_ = false;
  std::vector<std::uint8_t> front_;
};

}  // namespace mirandel
