// Pixel tests of the clip's picture drawing in a real Mesa GL 4.x context.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clip/MirandelLink.h"
#include "clip/PictureScale.h"
#include "clip/PictureShaders.h"
#include "ffglex/FFGLShader.h"
#include "plugin/GLLoader.h"
#include "support/FakeLink.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"

namespace {

using mirandel::MirandelLink;
using mirandel::host::Framebuffer;
using mirandel::host::GlContext;
using mirandel::host::RgbaImage;

// A BGRA picture whose every pixel is given by a function of (x, y).
struct Picture {
  std::uint32_t width, height;
  std::vector<std::uint8_t> bgra;
  template <class F>
  Picture(std::uint32_t w, std::uint32_t h, F colour) : width(w), height(h), bgra(w * h * 4) {
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        const auto c = colour(x, y);  // {r, g, b}
        std::uint8_t* p = &bgra[(y * w + x) * 4];
        p[0] = c[2];
        p[1] = c[1];
        p[2] = c[0];
        p[3] = 255;
      }
  }
};

class Rendering : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    context_ = GlContext::create(&error).release();
    ASSERT_NE(context_, nullptr) << error;
    ASSERT_TRUE(mirandel::loadGLEntryPoints());
  }

  void SetUp() override {
    if (!context_) GTEST_SKIP();
  }

  void start(std::uint32_t vw, std::uint32_t vh) {
    std::string error;
    fbo_ = Framebuffer::create(vw, vh, &error);
    ASSERT_NE(fbo_, nullptr) << error;
    clip_ = std::make_unique<MirandelLink>(mirandel::ClipEnvironment{&link_});
    clip_->SetIdentity(clip_.get());
    FFGLViewportStruct vp{0, 0, vw, vh};
    ASSERT_EQ(clip_->InitGL(&vp), FF_SUCCESS);
  }

  void TearDown() override {
    if (clip_) clip_->DeInitGL();
  }

  void deliver(const Picture& p) {
    ASSERT_TRUE(clip_->frameSlot().deliver(p.bgra.data(), p.width * 4, p.width, p.height, 0));
  }

  RgbaImage draw(float clearAlpha = 0.5f) {
    fbo_->clear(0.25f, 0.25f, 0.25f, clearAlpha);
    processFrame();
    return fbo_->read();
  }

  void processFrame() {
    int frame = 0;
    EXPECT_EQ(clip_->ProcessOpenGL(reinterpret_cast<ProcessOpenGLStruct*>(&frame)), FF_SUCCESS);
  }

  static GlContext* context_;
  std::unique_ptr<Framebuffer> fbo_;
  mirandel::test::FakeLink link_;
  std::unique_ptr<MirandelLink> clip_;
};
GlContext* Rendering::context_ = nullptr;

auto solid(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return [=](std::uint32_t, std::uint32_t) { return std::array<std::uint8_t, 3>{r, g, b}; };
}

int rowAlphaAt(const RgbaImage& img, std::uint32_t y) { return img.at(img.width / 2, y)[3]; }

// Before any picture arrives the clip must cover nothing: the host's layers
// below stay visible.
TEST_F(Rendering, DrawsTransparentUntilTheFirstPicture) {
  start(32, 32);
  RgbaImage img = draw();
  for (std::size_t i = 3; i < img.pixels.size(); i += 4) ASSERT_EQ(img.pixels[i], 0);
}

// Letterbox bands must be fully transparent (premultiplied zero), the picture
// area fully opaque.
TEST_F(Rendering, FitLetterboxesAWidePictureWithTransparentBands) {
  start(100, 100);
  deliver(Picture(64, 36, solid(200, 100, 50)));
  RgbaImage img = draw();
  // 36/64 of 100 rows: rows 22..77 are picture.
  EXPECT_EQ(rowAlphaAt(img, 0), 0);
  EXPECT_EQ(rowAlphaAt(img, 20), 0);
  EXPECT_EQ(rowAlphaAt(img, 23), 255);
  EXPECT_EQ(rowAlphaAt(img, 50), 255);
  EXPECT_EQ(rowAlphaAt(img, 76), 255);
  EXPECT_EQ(rowAlphaAt(img, 79), 0);
  EXPECT_EQ(rowAlphaAt(img, 99), 0);
  const std::uint8_t* centre = img.at(50, 50);
  EXPECT_EQ(centre[0], 200);
  EXPECT_EQ(centre[1], 100);
  EXPECT_EQ(centre[2], 50);
  // Left and right edges are picture in fit mode for a wide picture.
  EXPECT_EQ(img.at(0, 50)[3], 255);
  EXPECT_EQ(img.at(99, 50)[3], 255);
}

TEST_F(Rendering, FitPillarboxesATallPicture) {
  start(100, 50);
  deliver(Picture(20, 40, solid(10, 20, 30)));
  RgbaImage img = draw();
  EXPECT_EQ(img.at(0, 25)[3], 0);
  EXPECT_EQ(img.at(30, 25)[3], 0);
  EXPECT_EQ(img.at(50, 25)[3], 255);
  EXPECT_EQ(img.at(99, 25)[3], 0);
  EXPECT_EQ(img.at(50, 0)[3], 255);
}

// Fill must crop the sides of a wide picture rather than leave bands.
TEST_F(Rendering, FillCropsTheSidesAndCoversTheViewport) {
  start(100, 100);
  // Column x of the picture carries red = 4x, so the output's left edge tells
  // which picture column it shows.
  deliver(Picture(64, 36, [](std::uint32_t x, std::uint32_t) {
    return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(4 * x), 0, 0};
  }));
  clip_->SetFloatParameter(9, 1.0f);
  RgbaImage img = draw();
  for (std::size_t i = 3; i < img.pixels.size(); i += 4) ASSERT_EQ(img.pixels[i], 255);
  // Visible picture span is 0.5 -/+ 0.5 * 36/64: columns from about 14 to 50.
  EXPECT_NEAR(img.at(0, 50)[0], 4 * 14, 6);
  EXPECT_NEAR(img.at(99, 50)[0], 4 * 50, 6);
}

TEST_F(Rendering, StretchCoversTheViewport) {
  start(50, 80);
  deliver(Picture(64, 36, solid(1, 2, 3)));
  clip_->SetFloatParameter(9, 2.0f);
  RgbaImage img = draw();
  for (std::size_t i = 3; i < img.pixels.size(); i += 4) ASSERT_EQ(img.pixels[i], 255);
}

// Decoders deliver the top row first; an upside-down picture is the classic
// fault of a GL upload.
TEST_F(Rendering, TheFirstBufferRowIsDrawnAtTheTop) {
  start(16, 16);
  deliver(Picture(16, 16, [](std::uint32_t, std::uint32_t y) {
    return y < 8 ? std::array<std::uint8_t, 3>{255, 0, 0} : std::array<std::uint8_t, 3>{0, 0, 255};
  }));
  RgbaImage img = draw();
  EXPECT_EQ(img.at(8, 0)[0], 255);
  EXPECT_EQ(img.at(8, 0)[2], 0);
  EXPECT_EQ(img.at(8, 15)[0], 0);
  EXPECT_EQ(img.at(8, 15)[2], 255);
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
    GL_TEXTURE_BINDING_2D};
// clang-format on
using HostState = std::vector<std::array<GLint, 4>>;

HostState readHostState() {
  HostState state(std::size(kHostState) + 1, {0, 0, 0, 0});
  for (std::size_t i = 0; i < std::size(kHostState); ++i)
    glGetIntegerv(kHostState[i], state[i].data());
  // The clip draws from unit 0, whichever unit the host left active.
  GLint active = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, state.back().data());
  glActiveTexture(static_cast<GLenum>(active));
  return state;
}

// Puts the shared context back to GL's defaults for the tests that follow.
void restoreGLDefaults() {
  for (GLenum cap : {GL_CULL_FACE, GL_BLEND, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_SCISSOR_TEST})
    glDisable(cap);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  glBlendFunc(GL_ONE, GL_ZERO);
  glBlendEquation(GL_FUNC_ADD);
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glStencilFunc(GL_ALWAYS, 0, ~0u);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  for (GLenum store : {GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SKIP_ROWS,
                       GL_UNPACK_IMAGE_HEIGHT, GL_UNPACK_SWAP_BYTES})
    glPixelStorei(store, 0);
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glUseProgram(0);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  for (GLenum unit : {GL_TEXTURE3, GL_TEXTURE0}) {
    glActiveTexture(unit);
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  while (glGetError() != GL_NO_ERROR) {
  }
}

// A host draws its own layers before the clip and may leave culling (with
// either winding taken as front), blending, depth, stencil and scissor tests,
// a colour mask, pixel unpack settings or a pixel unpack buffer set, and its
// own objects bound. None of it may change the picture (a culled quad drew
// nothing; unpack alignment, row length or skips sheared it and made GL read
// past the end of the picture), and the host must find every value as it left
// it (bindings used to come back as 0), with no GL error left behind.
TEST_F(Rendering, WhateverStateTheHostLeavesThePictureIsExactAndTheStateIsKept) {
  start(37, 23);
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

  GLuint buffers[2], vertexArray = 0, textures[2];
  glGenBuffers(2, buffers);
  glGenVertexArrays(1, &vertexArray);
  glGenTextures(2, textures);
  ffglex::FFGLShader hostProgram;
  ASSERT_TRUE(hostProgram.Compile(mirandel::shaders::kVertex, mirandel::shaders::kFragment));

  const struct {
    const char* name;
    std::function<void()> set;
  } cases[] = {
      {"GL's defaults", [] {}},
      {"back faces culled", [] { glEnable(GL_CULL_FACE); }},
      {"front faces culled, clockwise in front",
       [] {
         glEnable(GL_CULL_FACE);
         glCullFace(GL_FRONT);
         glFrontFace(GL_CW);
       }},
      {"blending that keeps the destination",
       [] {
         glEnable(GL_BLEND);
         glBlendFuncSeparate(GL_ZERO, GL_ONE, GL_ZERO, GL_ONE);
         glBlendEquationSeparate(GL_FUNC_REVERSE_SUBTRACT, GL_MAX);
       }},
      {"a depth test that never passes",
       [] {
         glEnable(GL_DEPTH_TEST);
         glDepthFunc(GL_NEVER);
         glDepthMask(GL_FALSE);
       }},
      {"a stencil test that never passes",
       [] {
         glEnable(GL_STENCIL_TEST);
         glStencilFunc(GL_NEVER, 1, 0xFF);
       }},
      {"a scissor box",
       [] {
         glEnable(GL_SCISSOR_TEST);
         glScissor(1, 2, 3, 4);
       }},
      {"a colour mask", [] { glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE); }},
      {"unpack alignment 8", [] { glPixelStorei(GL_UNPACK_ALIGNMENT, 8); }},
      {"an unpack row length",
       [] {
         glPixelStorei(GL_UNPACK_ROW_LENGTH, 41);
         glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 29);
       }},
      {"unpack skips",
       [] {
         glPixelStorei(GL_UNPACK_SKIP_PIXELS, 3);
         glPixelStorei(GL_UNPACK_SKIP_ROWS, 2);
       }},
      {"unpack byte swapping", [] { glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_TRUE); }},
      {"an empty pixel unpack buffer", [&] { glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffers[0]); }},
      {"the host's own objects bound",
       [&] {
         glUseProgram(hostProgram.GetGLID());
         glBindVertexArray(vertexArray);
         glBindBuffer(GL_ARRAY_BUFFER, buffers[1]);
         glBindTexture(GL_TEXTURE_2D, textures[0]);
         glActiveTexture(GL_TEXTURE3);
         glBindTexture(GL_TEXTURE_2D, textures[1]);
       }},
  };
  const Picture p(37, 23, [](std::uint32_t x, std::uint32_t y) {
    return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(x * 7 + y),
                                       static_cast<std::uint8_t>(y * 11),
                                       static_cast<std::uint8_t>(x ^ y)};
  });
  FFGLViewportStruct vp{0, 0, 37, 23};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fbo_->clear(0.25f, 0.25f, 0.25f, 0.5f);
    c.set();
    const auto before = readHostState();
    // InitGL binds too, and a new texture takes the allocating upload.
    clip_->DeInitGL();
    ASSERT_EQ(clip_->InitGL(&vp), FF_SUCCESS);
    deliver(p);
    processFrame();
    const GLenum error = glGetError();
    const auto after = readHostState();
    restoreGLDefaults();
    EXPECT_EQ(error, GLenum(GL_NO_ERROR));
    for (std::size_t i = 0; i < after.size(); ++i) {
      if (i < std::size(kHostState))
        EXPECT_EQ(after[i], before[i]) << "GL state 0x" << std::hex << kHostState[i];
      else
        EXPECT_EQ(after[i], before[i]) << "the 2D texture of unit 0";
    }

    const RgbaImage img = fbo_->read();
    int wrong = 0;
    for (std::uint32_t y = 0; y < 23; ++y)
      for (std::uint32_t x = 0; x < 37; ++x) {
        const std::uint8_t* out = img.at(x, y);
        const std::uint8_t* in = &p.bgra[(y * 37 + x) * 4];
        wrong += out[0] != in[2] || out[1] != in[1] || out[2] != in[0] || out[3] != 255;
      }
    EXPECT_EQ(wrong, 0) << "pixels differing from the picture";
  }
  hostProgram.FreeGLResources();
  glDeleteTextures(2, textures);
  glDeleteVertexArrays(1, &vertexArray);
  glDeleteBuffers(2, buffers);
  glDeleteRenderbuffers(1, &depthStencil);
}

// GL cannot hold a picture wider than its largest texture side. Taking the
// refused size for the texture's own would draw the old picture with the new
// picture's aspect, and hide why the phone's picture does not show; the
// refusal must not land in the host's GL error queue either. The next picture
// that fits is shown again.
TEST_F(Rendering, APictureBeyondTheGLLimitIsReportedAndTheNextOneIsShown) {
  start(8, 8);
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  ASSERT_GT(limit, 0);
  deliver(Picture(8, 8, solid(255, 0, 0)));
  draw();

  const std::uint32_t wide = static_cast<std::uint32_t>(limit) + 1;
  deliver(Picture(wide, 1, solid(0, 255, 0)));
  RgbaImage img = draw();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  EXPECT_EQ(clip_->renderer().textureWidth(), 8u);
  EXPECT_EQ(clip_->renderer().textureHeight(), 8u);
  EXPECT_EQ(img.at(4, 0)[0], 255) << "the previous picture no longer fills the clip";
  clip_->superviseClip();
  EXPECT_EQ(clip_->pictureText(),
            std::to_string(wide) + "x1 larger than the GL limit " + std::to_string(limit));

  deliver(Picture(4, 4, solid(0, 0, 255)));
  img = draw();
  EXPECT_EQ(img.at(4, 4)[2], 255);
  EXPECT_EQ(clip_->renderer().textureWidth(), 4u);
  clip_->superviseClip();
  EXPECT_EQ(clip_->pictureText(), mirandel::text::kDash);
}

// Grain must stay within its bounds by tone (strongest at mid grey, faint at
// black and white) and change with every new picture.
TEST_F(Rendering, GrainStaysWithinItsBoundsAndChangesWithEachPicture) {
  start(64, 64);
  clip_->setGrainAmountForTest(0.1f);
  struct Case {
    std::uint8_t level;
    int bound;  // in 8-bit levels, rounded up
  } cases[] = {{128, 13}, {0, 5}, {255, 5}};
  for (const Case& c : cases) {
    deliver(Picture(64, 64, solid(c.level, c.level, c.level)));
    RgbaImage first = draw();
    int maxDiff = 0, changed = 0;
    for (std::size_t i = 0; i < first.pixels.size(); i += 4)
      for (int k = 0; k < 3; ++k)
        maxDiff = std::max(maxDiff, std::abs(first.pixels[i + k] - c.level));
    EXPECT_LE(maxDiff, c.bound) << int(c.level);
    if (c.level == 128) {
      EXPECT_GE(maxDiff, 4) << "grain is missing";
    }
    deliver(Picture(64, 64, solid(c.level, c.level, c.level)));
    RgbaImage second = draw();
    for (std::size_t i = 0; i < first.pixels.size(); i += 4)
      changed += first.pixels[i] != second.pixels[i];
    if (c.level == 128) {
      EXPECT_GT(changed, 64 * 64 / 4) << "grain did not change";
    }
  }
}

TEST_F(Rendering, AViewportOfHeightZeroDrawsUnscaled) {
  start(20, 20);
  FFGLViewportStruct flat{0, 0, 20, 0};
  clip_->Resize(&flat);
  deliver(Picture(40, 10, solid(9, 9, 9)));
  RgbaImage img = draw();
  for (std::size_t i = 3; i < img.pixels.size(); i += 4) ASSERT_EQ(img.pixels[i], 255);
}

// Only the newest picture is ever shown, and a frame without a new picture
// uploads nothing.
TEST_F(Rendering, TwoPicturesBetweenFramesShowOnlyTheSecond) {
  start(8, 8);
  deliver(Picture(8, 8, solid(255, 0, 0)));
  deliver(Picture(8, 8, solid(0, 255, 0)));
  RgbaImage img = draw();
  EXPECT_EQ(clip_->renderer().framesTaken(), 1u);
  EXPECT_EQ(img.at(4, 4)[1], 255);
  EXPECT_EQ(img.at(4, 4)[0], 0);
  draw();
  EXPECT_EQ(clip_->renderer().framesTaken(), 1u);
}

TEST_F(Rendering, TextureStorageIsReallocatedOnlyWhenTheSizeChanges) {
  start(16, 16);
  deliver(Picture(12, 8, solid(1, 1, 1)));
  draw();
  deliver(Picture(12, 8, solid(2, 2, 2)));
  draw();
  EXPECT_EQ(clip_->renderer().allocations(), 1u);
  deliver(Picture(16, 9, solid(3, 3, 3)));
  draw();
  EXPECT_EQ(clip_->renderer().allocations(), 2u);
  EXPECT_EQ(clip_->renderer().textureWidth(), 16u);
  EXPECT_EQ(clip_->renderer().textureHeight(), 9u);
}

// Padded decoder rows must be copied without their padding.
TEST(FrameSlot, PaddedRowsAreCopiedWithoutPadding) {
  mirandel::FrameSlot slot;
  std::vector<std::uint8_t> padded(3 * 16, 0xEE);
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 8; ++i) padded[r * 16 + i] = static_cast<std::uint8_t>(r * 10 + i);
  ASSERT_TRUE(slot.deliver(padded.data(), 16, 2, 3, 0));
  std::vector<std::uint8_t> front;
  std::uint32_t w = 0, h = 0;
  ASSERT_TRUE(slot.take(front, w, h));
  ASSERT_EQ(front.size(), 24u);
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(front[r * 8 + i], r * 10 + i);
  EXPECT_FALSE(slot.take(front, w, h));
}

// A decoder reporting a stride shorter than its rows would make the copy read
// out of bounds.
TEST(FrameSlot, InconsistentGeometryIsRefused) {
  mirandel::FrameSlot slot;
  std::vector<std::uint8_t> pixels(64);
  EXPECT_FALSE(slot.deliver(pixels.data(), 4, 2, 2, 0));
  EXPECT_FALSE(slot.deliver(nullptr, 8, 2, 2, 0));
  std::vector<std::uint8_t> front;
  std::uint32_t w, h;
  EXPECT_FALSE(slot.take(front, w, h));
}

TEST(PictureScale, FitFillAndStretchForWideAndTallPictures) {
  struct Case {
    std::uint32_t tw, th, vw, vh;
    std::int32_t mode;
    float sx, sy;
  } cases[] = {
      {1920, 1080, 1000, 1000, 0, 1.0f, 0.5625f}, {1920, 1080, 1000, 1000, 1, 1.7778f, 1.0f},
      {1920, 1080, 1000, 1000, 2, 1.0f, 1.0f},    {1080, 1920, 1920, 1080, 0, 0.3164f, 1.0f},
      {1080, 1920, 1920, 1080, 1, 1.0f, 3.1605f}, {1920, 1080, 1920, 0, 0, 1.0f, 1.0f},
      {1280, 720, 1920, 1080, 0, 1.0f, 1.0f},
  };
  for (const Case& c : cases) {
    const mirandel::Scale s = mirandel::pictureScale(c.tw, c.th, c.vw, c.vh, c.mode, true);
    EXPECT_NEAR(s.x, c.sx, 1e-3) << c.tw << "x" << c.th << " mode " << c.mode;
    EXPECT_NEAR(s.y, c.sy, 1e-3) << c.tw << "x" << c.th << " mode " << c.mode;
  }
  const mirandel::Scale none = mirandel::pictureScale(1920, 1080, 1000, 1000, 0, false);
  EXPECT_EQ(none.x, 1.0f);
  EXPECT_EQ(none.y, 1.0f);
}

}  // namespace
