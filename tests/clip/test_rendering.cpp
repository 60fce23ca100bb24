// Pixel tests of the clip's picture drawing in a real Mesa GL 4.x context.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "clip/MirandelLink.h"
#include "clip/PictureScale.h"
#include "clip/PictureShaders.h"
#include "ffglex/FFGLShader.h"
#include "plugin/GLLoader.h"
#include "support/FakeLink.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"

namespace mirandel::test {
namespace {

using host::Framebuffer;
using host::GlContext;
using host::RgbaImage;
using Rgb = std::array<std::uint8_t, 3>;
using U = std::uint32_t;

// A BGRA picture whose every pixel is given by a function of (x, y), and the RGBA
// pixels of it drawn opaque at its own size.
struct Picture {
  std::uint32_t width, height;
  std::vector<std::uint8_t> bgra, rgba;
  template <class F>
  Picture(std::uint32_t w, std::uint32_t h, F colour) : width(w), height(h) {
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        const Rgb c = colour(x, y);
        bgra.insert(bgra.end(), {c[2], c[1], c[0], 255});
        rgba.insert(rgba.end(), {c[0], c[1], c[2], 255});
      }
  }
};

auto solid(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return [=](std::uint32_t, std::uint32_t) { return Rgb{r, g, b}; };
}

// A context of its own per test, so that no test's GL state reaches the next.
class Rendering : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    context_ = GlContext::create(&error);
    ASSERT_NE(context_, nullptr) << error;
    ASSERT_TRUE(loadGLEntryPoints());
  }

  void TearDown() override {
    if (clip_) clip_->DeInitGL();
  }

  void start(std::uint32_t vw, std::uint32_t vh,
             Framebuffer::Encoding encoding = Framebuffer::Encoding::kPlain) {
    std::string error;
    fbo_ = Framebuffer::create(vw, vh, &error, encoding);
    ASSERT_NE(fbo_, nullptr) << error;
    clip_ = std::make_unique<MirandelLink>(ClipEnvironment{&link_});
    clip_->SetIdentity(clip_.get());
    FFGLViewportStruct vp{0, 0, vw, vh};
    ASSERT_EQ(clip_->InitGL(&vp), FF_SUCCESS);
  }

  void deliver(const Picture& p) {
    ASSERT_TRUE(clip_->frameSlot().deliver(p.bgra.data(), p.width * 4, p.width, p.height, 0));
  }

  RgbaImage draw() {
    fbo_->clear(0.25f, 0.25f, 0.25f, 0.5f);
    EXPECT_EQ(clip_->ProcessOpenGL(nullptr), FF_SUCCESS);  // the clip reads nothing of it
    return fbo_->read();
  }

  std::unique_ptr<GlContext> context_;  // first: destroyed after everything below
  std::unique_ptr<Framebuffer> fbo_;
  FakeLink link_;
  std::unique_ptr<MirandelLink> clip_;
};

// Guards against a picture hiding the host's layers outside its fit mode's area
// (bands are transparent); edges fall between pixels. (The time before a first picture is
// PluginEntry.ClipWithoutAPictureDrawsATransparentFrame's.)
TEST_F(Rendering, EachFitModeCoversExactlyItsPictureArea) {
  // The viewport, the picture, the mode, and the opaque pixels counted from the top left.
  const std::tuple<const char*, U, U, U, U, float, U, U, U, U> cases[] = {
      {"fit, wide picture", 100, 100, 64, 32, 0, 0, 25, 100, 75},
      {"fit, tall picture", 80, 40, 20, 40, 0, 30, 0, 50, 40},
      {"fill, wide picture", 100, 100, 64, 32, 1, 0, 0, 100, 100},
      {"stretch", 50, 80, 64, 36, 2, 0, 0, 50, 80},
  };
  for (const auto& [name, vw, vh, pw, ph, fit, x0, y0, x1, y1] : cases) {
    SCOPED_TRACE(name);
    start(vw, vh);
    deliver(Picture(pw, ph, solid(200, 100, 50)));
    clip_->SetFloatParameter(param::kFit, fit);
    const RgbaImage img = draw();
    int wrong = 0;
    for (std::uint32_t y = 0; y < vh; ++y)
      for (std::uint32_t x = 0; x < vw; ++x)
        wrong += img.at(x, y)[3] != (x >= x0 && x < x1 && y >= y0 && y < y1 ? 255 : 0);
    EXPECT_EQ(wrong, 0) << "pixels on the wrong side of the picture's edge";
    clip_->DeInitGL();
  }
}

// Everything of the host's GL state that drawing a clip could disturb, as
// glGetIntegerv reads it (at most four values each).
// clang-format off
constexpr GLenum kHostState[] = {
    GL_CULL_FACE, GL_CULL_FACE_MODE, GL_FRONT_FACE,
    GL_BLEND, GL_BLEND_SRC_RGB, GL_BLEND_DST_RGB, GL_BLEND_SRC_ALPHA, GL_BLEND_DST_ALPHA,
    GL_BLEND_EQUATION_RGB, GL_BLEND_EQUATION_ALPHA,
    GL_DEPTH_TEST, GL_DEPTH_FUNC, GL_DEPTH_WRITEMASK, GL_STENCIL_TEST, GL_STENCIL_FUNC,
    GL_SCISSOR_TEST, GL_SCISSOR_BOX, GL_COLOR_WRITEMASK, GL_VIEWPORT, GL_DRAW_FRAMEBUFFER_BINDING,
    GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SKIP_ROWS,
    GL_UNPACK_IMAGE_HEIGHT, GL_UNPACK_SWAP_BYTES, GL_PIXEL_UNPACK_BUFFER_BINDING,
    GL_CURRENT_PROGRAM, GL_VERTEX_ARRAY_BINDING, GL_ARRAY_BUFFER_BINDING, GL_ACTIVE_TEXTURE,
    GL_TEXTURE_BINDING_2D, GL_FRAMEBUFFER_SRGB, GL_POLYGON_MODE};
// clang-format on

std::vector<std::array<GLint, 4>> readHostState() {
  std::vector<std::array<GLint, 4>> state(std::size(kHostState) + 2, {0, 0, 0, 0});
  for (std::size_t i = 0; i < std::size(kHostState); ++i)
    glGetIntegerv(kHostState[i], state[i].data());
  // The clip draws from unit 0, whichever unit the host left active.
  GLint active = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, state[std::size(kHostState)].data());
  glGetIntegerv(GL_SAMPLER_BINDING, state[std::size(kHostState) + 1].data());
  glActiveTexture(static_cast<GLenum>(active));
  return state;
}

// Guards against the host's GL state reaching the picture (culled, wireframe,
// sheared by unpack settings, black from a sampler, washed out by sRGB) and the
// clip's reaching the host (bindings came back as 0).
TEST_F(Rendering, WhateverStateTheHostLeavesThePictureIsExactAndTheStateIsKept) {
  start(37, 23, Framebuffer::Encoding::kSrgb);
  // Without depth and stencil buffers their tests pass whatever their settings.
  GLuint depthStencil = 0;
  glGenRenderbuffers(1, &depthStencil);
  glBindRenderbuffer(GL_RENDERBUFFER, depthStencil);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, 37, 23);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  fbo_->bind();
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                            depthStencil);
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));

  GLuint buffers[2], vertexArray = 0, textures[2], sampler = 0;
  glGenSamplers(1, &sampler);
  glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glGenBuffers(2, buffers);
  glGenVertexArrays(1, &vertexArray);
  glGenTextures(2, textures);
  ffglex::FFGLShader hostProgram;
  ASSERT_TRUE(hostProgram.Compile(shaders::kVertex, shaders::kFragment));

  const Picture p(37, 23, [](std::uint32_t x, std::uint32_t y) {
    return Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 11),
               static_cast<std::uint8_t>(x ^ y)};
  });
  FFGLViewportStruct vp{0, 0, 37, 23};
  for (const bool everything : {false, true}) {
    SCOPED_TRACE(everything ? "everything set" : "GL's defaults");
    fbo_->clear(0.25f, 0.25f, 0.25f, 0.5f);
    if (everything) {
      for (GLenum cap : {GL_CULL_FACE, GL_BLEND, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_SCISSOR_TEST})
        glEnable(cap);
      glCullFace(GL_FRONT_AND_BACK);
      glFrontFace(GL_CW);
      glBlendFuncSeparate(GL_ZERO, GL_ONE, GL_ZERO, GL_ONE);  // keeps the destination
      glBlendEquationSeparate(GL_FUNC_REVERSE_SUBTRACT, GL_MAX);
      glDepthFunc(GL_NEVER);
      glDepthMask(GL_FALSE);
      glStencilFunc(GL_NEVER, 1, 0xFF);
      glScissor(1, 2, 3, 4);
      glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE);
      glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
      for (const auto& [store, value] : {std::pair{GL_UNPACK_ALIGNMENT, 8},
                                         {GL_UNPACK_ROW_LENGTH, 41},
                                         {GL_UNPACK_IMAGE_HEIGHT, 29},
                                         {GL_UNPACK_SKIP_PIXELS, 3},
                                         {GL_UNPACK_SKIP_ROWS, 2},
                                         {GL_UNPACK_SWAP_BYTES, GL_TRUE}})
        glPixelStorei(store, value);
      glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffers[0]);  // empty
      glUseProgram(hostProgram.GetGLID());
      glBindVertexArray(vertexArray);
      glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
      glBindTexture(GL_TEXTURE_2D, textures[0]);
      glBindSampler(0, sampler);
      glEnable(GL_FRAMEBUFFER_SRGB);
      glActiveTexture(GL_TEXTURE3);
      glBindTexture(GL_TEXTURE_2D, textures[1]);
    }
    const auto before = readHostState();
    // InitGL binds too, and a new texture takes the allocating upload.
    clip_->DeInitGL();
    ASSERT_EQ(clip_->InitGL(&vp), FF_SUCCESS);
    deliver(p);
    EXPECT_EQ(clip_->ProcessOpenGL(nullptr), FF_SUCCESS);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    const auto after = readHostState();
    for (std::size_t i = 0; i < after.size(); ++i)
      EXPECT_EQ(after[i], before[i])
          << "GL state 0x" << std::hex << (i < std::size(kHostState) ? kHostState[i] : 0u)
          << " (0x0: the 2D texture, then the sampler, of unit 0)";
    EXPECT_EQ(fbo_->read().pixels, p.rgba) << "pixels differing from the picture";
  }
}

// Guards against grain beyond its bounds by tone (strongest at mid grey, faint
// at black and white) or standing still between pictures.
TEST_F(Rendering, GrainStaysWithinItsBoundsAndChangesWithEachPicture) {
  start(64, 64);
  clip_->setGrainAmountForTest(0.1f);
  for (const auto& [level, bound] : {std::pair{128, 13}, {0, 5}, {255, 5}}) {  // bound rounded up
    const Picture grey(64, 64, solid(level, level, level));
    deliver(grey);
    const RgbaImage first = draw();
    deliver(grey);
    const RgbaImage second = draw();
    int maxDiff = 0, changed = 0;
    for (std::size_t i = 0; i < first.pixels.size(); i += 4) {
      for (int k = 0; k < 3; ++k)
        maxDiff = std::max(maxDiff, std::abs(first.pixels[i + k] - level));
      changed += first.pixels[i] != second.pixels[i];
    }
    EXPECT_LE(maxDiff, bound) << level;
    if (level == 128) {
      EXPECT_GE(maxDiff, 4) << "grain is missing";
      EXPECT_GT(changed, 64 * 64 / 4) << "grain did not change";
    }
  }
}

// Guards the upload against stale, padded or short pictures, needless storage
// and a picture past GL's limit (reported, the old one kept, no GL error).
TEST_F(Rendering, OnlyTheNewestPictureIsUploadedAndOneBeyondTheGLLimitIsReported) {
  start(12, 8);
  const Picture red(12, 8, solid(255, 0, 0)), green(12, 8, solid(0, 255, 0));
  deliver(Picture(4, 4, solid(1, 1, 1)));
  draw();
  deliver(red);
  std::vector<std::uint8_t> padded(8 * 64, 0xEE);
  for (std::uint32_t y = 0; y < 8; ++y) std::copy_n(&green.bgra[y * 48], 48, &padded[y * 64]);
  ASSERT_TRUE(clip_->frameSlot().deliver(padded.data(), 64, 12, 8, 0));
  EXPECT_FALSE(clip_->frameSlot().deliver(padded.data(), 44, 12, 8, 0));
  EXPECT_FALSE(clip_->frameSlot().deliver(nullptr, 64, 12, 8, 0));
  EXPECT_EQ(draw().pixels, green.rgba);
  EXPECT_EQ(clip_->renderer().framesTaken(), 2u);
  draw();
  EXPECT_EQ(clip_->renderer().framesTaken(), 2u);
  deliver(red);
  EXPECT_EQ(draw().pixels, red.rgba);
  EXPECT_EQ(clip_->renderer().allocations(), 2u);

  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  const std::uint32_t wide = static_cast<std::uint32_t>(limit) + 1;
  deliver(Picture(wide, 1, solid(0, 0, 255)));
  EXPECT_EQ(draw().pixels, red.rgba) << "the previous picture no longer fills the clip";
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  clip_->superviseClip();
  EXPECT_EQ(clip_->pictureText(),
            std::to_string(wide) + "x1 larger than the GL limit " + std::to_string(limit));
  deliver(green);
  EXPECT_EQ(draw().pixels, green.rgba);
  clip_->superviseClip();
  EXPECT_EQ(clip_->pictureText(), text::kDash);
}

// Guards against a squashed or wrongly cropped picture: each fit mode's scale.
TEST(PictureScale, FitFillAndStretchForWideAndTallPictures) {
  // The picture, the viewport, the mode, and the scale expected.
  const std::tuple<U, U, U, U, std::int32_t, float, float> cases[] = {
      {1920, 1080, 1000, 1000, 0, 1.0f, 0.5625f}, {1920, 1080, 1000, 1000, 1, 1.7778f, 1.0f},
      {1920, 1080, 1000, 1000, 2, 1.0f, 1.0f},    {1080, 1920, 1920, 1080, 0, 0.3164f, 1.0f},
      {1080, 1920, 1920, 1080, 1, 1.0f, 3.1605f}, {1920, 1080, 1920, 0, 0, 1.0f, 1.0f},
      {1280, 720, 1920, 1080, 0, 1.0f, 1.0f}};
  for (const auto& [tw, th, vw, vh, mode, sx, sy] : cases) {
    const Scale s = pictureScale(tw, th, vw, vh, mode, true);
    EXPECT_NEAR(s.x, sx, 1e-3) << tw << "x" << th << " mode " << mode;
    EXPECT_NEAR(s.y, sy, 1e-3) << tw << "x" << th << " mode " << mode;
  }
}

}  // namespace
}  // namespace mirandel::test
