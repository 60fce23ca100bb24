// The live run's measuring pieces: if these are wrong, the demo and the latency benchmark
// report figures about the host's arithmetic rather than about the plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "tools/host/DrawnStamp.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"
#include "tools/host/LatencySummary.h"
#include "tools/host/LiveRun.h"
#include "tools/phone/TestPattern.h"

namespace mirandel::host {
namespace {

// Guards against an off-by-one rank (p95 of 20 samples is the 19th), an unsorted series, and
// a median that ignores the even case.
TEST(LatencySummary, MedianP95AndMaxFollowTheirRanks) {
  std::vector<double> twenty;
  for (int i = 20; i >= 1; --i) twenty.push_back(i);  // deliberately descending
  std::vector<double> hundred;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i);
  struct Case {
    const char* name;
    std::vector<double> values;
    std::size_t count;
    double median, p95, max;
  } cases[] = {
      {"empty", {}, 0, 0, 0, 0},
      {"one", {7.5}, 1, 7.5, 7.5, 7.5},
      {"odd", {3, 1, 2}, 3, 2, 3, 3},
      {"even", {4, 1, 3, 2}, 4, 2.5, 4, 4},
      {"twenty", twenty, 20, 10.5, 19, 20},
      {"hundred", hundred, 100, 50.5, 95, 100},
  };
  for (const Case& c : cases) {
    const LatencySummary s = summarise(c.values);
    EXPECT_EQ(s.count, c.count) << c.name;
    EXPECT_DOUBLE_EQ(s.median, c.median) << c.name;
    EXPECT_DOUBLE_EQ(s.p95, c.p95) << c.name;
    EXPECT_DOUBLE_EQ(s.max, c.max) << c.name;
  }
}

// Guards against a parser that mistakes the receiver's words for a picture size, or loses the
// transport figure when the line carries the no-frames flag.
TEST(PictureText, SizeAndTransportAreReadOnlyFromAStreamingLine) {
  struct Case {
    std::string text;
    bool ok;
    std::uint32_t w, h;
    double transport;
  } cases[] = {
      {"1920x1080 H.264 30 fps \xC2\xB7 12.5 ms transport \xC2\xB7 sw", true, 1920, 1080, 12.5},
      {"1080x1920 HEVC 0 fps \xC2\xB7 3.0 ms transport \xC2\xB7 hw \xC2\xB7 no frames", true, 1080,
       1920, 3.0},
      {"connecting to 169.254.77.2:9010", false, 0, 0, 0},
      {"connected", false, 0, 0, 0},
      {"\xE2\x80\x94", false, 0, 0, 0},
      {"0x0 - 0 fps \xC2\xB7 1.0 ms transport \xC2\xB7 sw", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t w = 0, h = 0;
    double t = 0;
    ASSERT_EQ(parsePictureText(c.text, &w, &h, &t), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(w, c.w) << c.text;
    EXPECT_EQ(h, c.h) << c.text;
    EXPECT_DOUBLE_EQ(t, c.transport) << c.text;
  }
}

// The frame as the clip draws it, computed the shader's way round: each frame pixel centre
// maps back into the picture (t = (uv - 0.5) / scale + 0.5), outside it is transparent.
RgbaImage drawLikeTheClip(const phone::YuvPicture& picture, std::uint32_t frameW,
                          std::uint32_t frameH, FitMode fit) {
  float sx = 1, sy = 1;
  const float r =
      (static_cast<float>(picture.width) / picture.height) / (static_cast<float>(frameW) / frameH);
  if (fit == FitMode::kFit) (r < 1 ? sx : sy) = r < 1 ? r : 1 / r;
  if (fit == FitMode::kFill) (r > 1 ? sx : sy) = r > 1 ? r : 1 / r;
  RgbaImage img;
  img.width = frameW;
  img.height = frameH;
  img.pixels.assign(static_cast<std::size_t>(frameW) * frameH * 4, 0);
  for (std::uint32_t y = 0; y < frameH; ++y) {
    const float ty = ((y + 0.5f) / frameH - 0.5f) / sy + 0.5f;
    for (std::uint32_t x = 0; x < frameW; ++x) {
      const float tx = ((x + 0.5f) / frameW - 0.5f) / sx + 0.5f;
      if (tx < 0 || tx > 1 || ty < 0 || ty > 1) continue;
      const int px = std::min(picture.width - 1, static_cast<int>(tx * picture.width));
      const int py = std::min(picture.height - 1, static_cast<int>(ty * picture.height));
      const std::uint8_t luma = picture.y[static_cast<std::size_t>(py) * picture.width + px];
      std::uint8_t* d = img.pixels.data() + (static_cast<std::size_t>(y) * frameW + x) * 4;
      d[0] = d[1] = d[2] = luma;
      d[3] = 255;
    }
  }
  return img;
}

RgbaImage crop(const RgbaImage& img, const FrameRect& r) {
  RgbaImage out;
  out.width = r.width;
  out.height = r.height;
  for (std::uint32_t y = 0; y < r.height; ++y) {
    const std::uint8_t* row = img.at(r.x, r.y + y);
    out.pixels.insert(out.pixels.end(), row, row + r.width * 4);
  }
  return out;
}

// Guards against looking for the stamp in the wrong place once the clip scales, letterboxes
// or pillarboxes the picture: every latency sample of such a run would be lost.
TEST(DrawnStamp, ReadsBackThroughEveryPlacementThatKeepsTheCornerInView) {
  struct Case {
    int picW, picH;
    std::uint32_t frameW, frameH;
    FitMode fit;
    bool readable;
  } cases[] = {
      {1920, 1080, 1920, 1080, FitMode::kFit, true},     // one to one
      {1280, 720, 1920, 1080, FitMode::kFit, true},      // scaled up by 1.5
      {1920, 1080, 1280, 720, FitMode::kStretch, true},  // scaled down
      {1080, 1920, 1920, 1080, FitMode::kFit, true},     // pillarbox: stamp moves right
      {1920, 1080, 1000, 1000, FitMode::kFit, true},     // letterbox: stamp moves down
      {1280, 720, 1000, 1000, FitMode::kFill, false},    // sides cropped: corner gone
      {1080, 1920, 1920, 1080, FitMode::kFill, false},   // top cropped: corner gone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.picW) + "x" + std::to_string(c.picH) + " in " +
                 std::to_string(c.frameW) + "x" + std::to_string(c.frameH) + " mode " +
                 std::to_string(static_cast<int>(c.fit)));
    const phone::Stamp stamp{4242, 987654321012ull};
    phone::YuvPicture picture;
    phone::renderTestPattern(stamp, c.picW, c.picH, picture);
    const RgbaImage frame = drawLikeTheClip(picture, c.frameW, c.frameH, c.fit);
    const Placement p = placePicture(c.frameW, c.frameH, c.picW, c.picH, c.fit);
    const FrameRect rect = stampRect(p, c.frameW, c.frameH, c.picW, c.picH);
    const auto read =
        rect.width ? readDrawnStamp(crop(frame, rect), rect, p, c.picW, c.picH) : std::nullopt;
    ASSERT_EQ(read.has_value(), c.readable);
    if (read) {
      EXPECT_EQ(*read, stamp);
    }
  }
}

// Guards against a partial read-back that counts rows from GL's bottom edge: the stamp sits
// in the top-left corner and would be read from the bottom-left one.
TEST(FramebufferRegion, ReadsTheRectangleCountedFromTheTopLeftCorner) {
  std::string error;
  auto gl = GlContext::create(&error);
  ASSERT_TRUE(gl) << error;
  auto fb = Framebuffer::create(64, 32, &error);
  ASSERT_TRUE(fb) << error;
  fb->clear(0, 0, 0, 1);
  glEnable(GL_SCISSOR_TEST);
  glScissor(4, 32 - 2 - 6, 10, 6);  // GL's bottom-up form of x 4..13, y 2..7 from the top
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);

  const RgbaImage region = fb->readRegion(2, 1, 14, 8);
  ASSERT_EQ(region.width, 14u);
  ASSERT_EQ(region.height, 8u);
  for (std::uint32_t y = 0; y < region.height; ++y) {
    for (std::uint32_t x = 0; x < region.width; ++x) {
      const bool white = x + 2 >= 4 && x + 2 < 14 && y + 1 >= 2 && y + 1 < 8;
      EXPECT_EQ(region.at(x, y)[0], white ? 255 : 0) << x << "," << y;
    }
  }
  // Clipped at the far corner, empty beyond it.
  EXPECT_EQ(fb->readRegion(60, 30, 10, 10).width, 4u);
  EXPECT_EQ(fb->readRegion(60, 30, 10, 10).height, 2u);
  EXPECT_TRUE(fb->readRegion(64, 0, 1, 1).pixels.empty());
}

}  // namespace
}  // namespace mirandel::host
