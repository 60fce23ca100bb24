// The test host's own pieces: if these are wrong, every plug-in test built on
// them reports the host's fault as the plug-in's.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/host/GlApi.h"

#include "support/TestSupport.h"
#include "tools/host/FfglHost.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"
#include "tools/host/PngFile.h"

namespace mirandel::host {
namespace {

class HostGl : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    gl_ = GlContext::create(&error);
    ASSERT_TRUE(gl_) << error;
  }
  std::unique_ptr<GlContext> gl_;
};

// Guards against a compatibility or ES context sneaking in: the plug-in's
// shaders are "#version 410 core" and a host must offer at least that.
TEST_F(HostGl, ContextIsDesktopCoreProfileAtLeast41) {
  const GlVersion v = gl_->version();
  EXPECT_TRUE(v.major > 4 || (v.major == 4 && v.minor >= 1)) << v.version;
  EXPECT_TRUE(v.coreProfile) << v.version;
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Guards against a read-back that is bottom-up (GL's own order), rounds
// colours, or pads rows: pixel tests compare exact bytes at exact rows. And
// against a partial read-back that counts rows from GL's bottom edge: the live
// run's stamp sits in the top-left corner and would be read from the
// bottom-left one.
TEST_F(HostGl, ReadBackIsExactAndCountsRowsFromTheTop) {
  std::string error;
  auto fb = Framebuffer::create(15, 9, &error);  // odd width: rows not 4-aligned in RGB terms
  ASSERT_TRUE(fb) << error;
  fb->clear(1.0f, 0.0f, 0.0f, 1.0f);
  // Paint x 4..13, y 2..7 counted from the top with a scissored clear.
  glEnable(GL_SCISSOR_TEST);
  glScissor(4, 9 - 2 - 6, 10, 6);
  glClearColor(0.0f, 64.0f / 255.0f, 1.0f, 128.0f / 255.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);

  const RgbaImage img = fb->read();
  ASSERT_EQ(img.width, 15u);
  ASSERT_EQ(img.height, 9u);
  ASSERT_EQ(img.pixels.size(), 15u * 9u * 4u);
  const RgbaImage region = fb->readRegion(2, 1, 13, 8);
  ASSERT_EQ(region.width, 13u);
  ASSERT_EQ(region.height, 8u);
  for (std::uint32_t y = 0; y < 9; ++y) {
    for (std::uint32_t x = 0; x < 15; ++x) {
      const std::uint8_t* p = img.at(x, y);
      const std::vector<std::uint8_t> want = x >= 4 && x < 14 && y >= 2 && y < 8
                                                 ? std::vector<std::uint8_t>{0, 64, 255, 128}
                                                 : std::vector<std::uint8_t>{255, 0, 0, 255};
      EXPECT_EQ(std::vector<std::uint8_t>(p, p + 4), want) << "x=" << x << " y=" << y;
      if (x < 2 || y < 1) continue;
      const std::uint8_t* r = region.at(x - 2, y - 1);
      EXPECT_EQ(std::vector<std::uint8_t>(r, r + 4), want) << "region x=" << x << " y=" << y;
    }
  }
  // Clipped at the far corner, empty beyond it.
  EXPECT_EQ(fb->readRegion(13, 7, 10, 10).width, 2u);
  EXPECT_EQ(fb->readRegion(13, 7, 10, 10).height, 2u);
  EXPECT_TRUE(fb->readRegion(15, 0, 1, 1).pixels.empty());
}

// What a scripted plug-in saw during code 17.
struct DrawSeen {
  std::uint32_t code = 0;
  FrameRecord record{};
};
DrawSeen drawSeen;

// Draws like a source plug-in: fills the host's viewport with one colour.
FfWord drawingPlugMain(std::uint32_t code, FfWord input, void*) {
  drawSeen.code = code;
  if (input.ptr != nullptr) drawSeen.record = *static_cast<const FrameRecord*>(input.ptr);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glEnable(GL_SCISSOR_TEST);
  glScissor(viewport[0], viewport[1], viewport[2], viewport[3]);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  return FfglHost::number(kSuccess);
}

// Guards against the host drawing into the wrong framebuffer, with a stale
// viewport, or naming another framebuffer in the frame record than the one
// bound: a plug-in that rebinds "the host's FBO" would then draw elsewhere.
TEST_F(HostGl, DrawFrameBindsTheTargetAndReadsBackWhatThePluginDrew) {
  std::string error;
  auto fb = Framebuffer::create(8, 4, &error);
  ASSERT_TRUE(fb) << error;
  fb->clear(0.0f, 0.0f, 0.0f, 0.0f);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glViewport(0, 0, 1, 1);
  FfglHost host(&drawingPlugMain, nullptr);
  void* const clip = reinterpret_cast<void*>(0x10);

  DrawAnswer whole = host.drawFrame(clip, *fb);
  EXPECT_EQ(whole.result, kSuccess);
  EXPECT_EQ(drawSeen.code, kProcessOpenGL);
  EXPECT_EQ(drawSeen.record.hostFbo, fb->id());
  EXPECT_EQ(drawSeen.record.inputCount, 0u);
  EXPECT_EQ(drawSeen.record.inputs, nullptr);
  // All green: drawn into the target, over all of it.
  std::vector<std::uint8_t> green;
  for (int i = 0; i < 8 * 4; ++i) green.insert(green.end(), {0, 255, 0, 255});
  EXPECT_EQ(whole.image.pixels, green);

  // A viewport given by the host replaces the whole-target one: only the top
  // row's left half (GL rows count from the bottom) is drawn here.
  fb->clear(0.0f, 0.0f, 0.0f, 0.0f);
  DrawAnswer part = host.drawFrame(clip, *fb, ViewportRecord{0, 3, 4, 1});
  for (std::uint32_t y = 0; y < 4; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      const bool drawn = y == 0 && x < 4;
      EXPECT_EQ(part.image.at(x, y)[1], drawn ? 255 : 0) << "x=" << x << " y=" << y;
    }
  }
}

// Guards against snapshots that swap channels, flip rows or drop alpha:
// libpng reads back exactly the bytes written, including a translucent pixel;
// and against writing an image whose pixels do not match its size (the
// writer would read past them).
TEST(PngSnapshot, RoundTripThroughLibpngKeepsEveryByte) {
  RgbaImage img{3, 2, {255, 0,  0,  255, 0, 255, 0, 255, 0,   0,   255, 255,  // top row
                       10,  20, 30, 40,  0, 0,   0, 0,   255, 255, 255, 128}};
  const std::string path = ::testing::TempDir() + "/host_png_roundtrip.png";
  std::string error;
  ASSERT_TRUE(writePng(path, img, &error)) << error;
  auto back = readPng(path, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->width, 3u);
  EXPECT_EQ(back->height, 2u);
  EXPECT_EQ(back->pixels, img.pixels);
  std::remove(path.c_str());

  img.pixels.resize(10);
  EXPECT_FALSE(writePng(path, img, &error));
  EXPECT_FALSE(error.empty());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace mirandel::host
