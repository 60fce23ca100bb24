#include "clip/PictureRenderer.h"

#include "clip/PictureScale.h"
#include "clip/PictureShaders.h"
#include "ffglex/FFGLScopedBindings.h"

namespace mirandel {

bool PictureRenderer::init() {
  if (!shader_.Compile(shaders::kVertex, shaders::kFragment) || !quad_.Initialise(false)) {
    deinit();
    return false;
  }
  glGenTextures(1, &texture_);
  {
    ffglex::Scoped2DTextureBinding bind(texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  textureWidth_ = textureHeight_ = 0;
  hasPicture_ = false;
  uploadFailure_ = {};
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  maxTextureSize_ = maxSize > 0 ? static_cast<std::uint32_t>(maxSize) : 0;

  ffglex::ScopedShaderBinding program(shader_.GetGLID());
  scaleLoc_ = shader_.FindUniform("scale");
  opacityLoc_ = shader_.FindUniform("opacity");
  grainAmountLoc_ = shader_.FindUniform("grainAmount");
  grainSeedLoc_ = shader_.FindUniform("grainSeed");
  texSizeLoc_ = shader_.FindUniform("texSize");
  pictureLoc_ = shader_.FindUniform("picture");
  glUniform1i(pictureLoc_, 0);
  return true;
}

void PictureRenderer::deinit() {
  shader_.FreeGLResources();
  quad_.Release();
  if (texture_) glDeleteTextures(1, &texture_);
  texture_ = 0;
  hasPicture_ = false;
  uploadFailure_ = {};
}

void PictureRenderer::draw(FrameSlot& slot, const FFGLViewportStruct& viewport,
                           std::int32_t fitMode, float grainAmount) {
  // Before init or after deinit nothing is drawn, and pictures stay waiting.
  if (shader_.GetGLID() == 0) return;
  std::uint32_t width = 0, height = 0;
  const bool taken = slot.take(front_, width, height);
  if (taken) ++frameCounter_;

  ffglex::ScopedSamplerActivation unit(0);
  ffglex::ScopedSamplerObjectUnbinding textureOwnFiltering(0);
  ffglex::Scoped2DTextureBinding bind(texture_);
  if (taken && width != 0 && height != 0) upload(width, height);

  const Scale s = pictureScale(textureWidth_, textureHeight_, viewport.width, viewport.height,
                               fitMode, hasPicture_);
  ffglex::ScopedShaderBinding program(shader_.GetGLID());
  glUniform2f(scaleLoc_, s.x, s.y);
  glUniform1f(opacityLoc_, hasPicture_ ? 1.0f : 0.0f);
  glUniform1f(grainAmountLoc_, hasPicture_ ? grainAmount : 0.0f);
  glUniform1ui(grainSeedLoc_, frameCounter_);
  glUniform2f(texSizeLoc_, static_cast<float>(textureWidth_), static_cast<float>(textureHeight_));
  {
    // The host may leave any of these set; the picture is written opaque over
    // the whole viewport, and the quad's winding must not matter.
    ffglex::ScopedCapability noCulling(GL_CULL_FACE, false);
    ffglex::ScopedCapability noBlending(GL_BLEND, false);
    ffglex::ScopedCapability noDepthTest(GL_DEPTH_TEST, false);
    ffglex::ScopedCapability noStencilTest(GL_STENCIL_TEST, false);
    ffglex::ScopedCapability noScissor(GL_SCISSOR_TEST, false);
    ffglex::ScopedColorMask allChannels(true, true, true, true);
    ffglex::ScopedFillPolygons filled;
    // The picture's bytes are already sRGB-encoded, as the host's own
    // pictures are: with sRGB writes on, GL would encode them a second time
    // into an sRGB framebuffer and wash the picture out. Off, it stores them
    // as they are, whatever the framebuffer's encoding.
    ffglex::ScopedCapability noSrgbEncoding(GL_FRAMEBUFFER_SRGB, false);
    quad_.Draw();
  }
}

void PictureRenderer::upload(std::uint32_t width, std::uint32_t height) {
  ffglex::ScopedUnpackState packed;
  const GLsizei w = static_cast<GLsizei>(width), h = static_cast<GLsizei>(height);
  if (width == textureWidth_ && height == textureHeight_) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                    front_.data());
  } else {
    // Checked here rather than left to GL so that the refusal does not land
    // in the host's GL error queue.
    if (width > maxTextureSize_ || height > maxTextureSize_) {
      uploadFailure_ = {true, width, height, maxTextureSize_};
      return;
    }
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                 front_.data());
    // GL can still refuse (out of memory) and then keeps the storage it had:
    // ask it what it holds rather than polling the host's error queue.
    GLint heldWidth = 0, heldHeight = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &heldWidth);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &heldHeight);
    if (heldWidth != w || heldHeight != h) {
      uploadFailure_ = {true, width, height, 0};
      return;
    }
    textureWidth_ = width;
    textureHeight_ = height;
    ++allocations_;
  }
  uploadFailure_ = {};
  hasPicture_ = true;
}

}  // namespace mirandel
