// The live run's measuring pieces: if these are wrong, the demo and the latency benchmark
// report figures about the host's arithmetic rather than about the plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tools/host/DrawnStamp.h"
#include "tools/host/LatencySummary.h"
#include "tools/host/LiveRun.h"
#include "tools/phone/TestPattern.h"

namespace mirandel::host {
namespace {

// Guards against an off-by-one rank (p95 of 20 samples is the 19th), an unsorted series, an
// odd-only median, and the soak's histogram parting from the exact figures by more than its
// 0.1 ms step or losing the values outside its range.
TEST(LatencySummary, MedianP95AndMaxFollowTheirRanksExactlyOrWithinAHistogramStep) {
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
      {"outside the counted range", {2500, 1, -3, 2}, 4, 1.5, 2500, 2500},
  };
  for (const Case& c : cases) {
    const LatencySummary s = summarise(c.values);
    EXPECT_EQ(s.count, c.count) << c.name;
    EXPECT_DOUBLE_EQ(s.median, c.median) << c.name;
    EXPECT_DOUBLE_EQ(s.p95, c.p95) << c.name;
    EXPECT_DOUBLE_EQ(s.max, c.max) << c.name;
    LatencyHistogram h;
    for (double v : c.values) h.add(v);
    const LatencySummary counted = h.summary();
    EXPECT_EQ(counted.count, c.count) << c.name;
    EXPECT_NEAR(counted.median, c.median, 0.051) << c.name;
    EXPECT_NEAR(counted.p95, c.p95, 0.051) << c.name;
    EXPECT_DOUBLE_EQ(counted.max, c.max) << c.name;
  }
}

// Guards against a parser that takes the receiver's words for a picture size, or loses the
// transport figure beside the no-frames flag, or the frame rate the multi-clip run adds up.
TEST(PictureText, SizeRateAndTransportAreReadOnlyFromAStreamingLine) {
  struct Case {
    std::string text;
    bool ok;
    std::uint32_t w, h;
    double fps, transport;
  } cases[] = {
      {"1920x1080 H.264 30 fps \xC2\xB7 12.5 ms transport \xC2\xB7 sw", true, 1920, 1080, 30, 12.5},
      {"1080x1920 HEVC 0 fps \xC2\xB7 3.0 ms transport \xC2\xB7 hw \xC2\xB7 no frames", true, 1080,
       1920, 0, 3.0},
      {"connecting to 169.254.77.2:9010", false, 0, 0, 0, 0},
      {"connected", false, 0, 0, 0, 0},
      {"\xE2\x80\x94", false, 0, 0, 0, 0},
      {"0x0 - 0 fps \xC2\xB7 1.0 ms transport \xC2\xB7 sw", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t w = 0, h = 0;
    double t = 0, fps = -1;
    ASSERT_EQ(parsePictureText(c.text, &w, &h, &t, &fps), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(w, c.w) << c.text;
    EXPECT_EQ(h, c.h) << c.text;
    EXPECT_DOUBLE_EQ(fps, c.fps) << c.text;
    EXPECT_DOUBLE_EQ(t, c.transport) << c.text;
  }
}

// The part `r` of the frame as the clip's shader draws it: each frame pixel centre maps back
// into the picture (t = (uv - 0.5) / scale + 0.5), outside it is transparent.
RgbaImage drawLikeTheClip(const phone::YuvPicture& picture, std::uint32_t frameW,
                          std::uint32_t frameH, FitMode fit, const FrameRect& r) {
  float sx = 1, sy = 1;
  const float ratio =
      (static_cast<float>(picture.width) / picture.height) / (static_cast<float>(frameW) / frameH);
  if (fit == FitMode::kFit) (ratio < 1 ? sx : sy) = ratio < 1 ? ratio : 1 / ratio;
  if (fit == FitMode::kFill) (ratio > 1 ? sx : sy) = ratio > 1 ? ratio : 1 / ratio;
  RgbaImage img{r.width, r.height, std::vector<std::uint8_t>(std::size_t{r.width} * r.height * 4)};
  for (std::uint32_t y = r.y; y < r.y + r.height; ++y) {
    const float ty = ((y + 0.5f) / frameH - 0.5f) / sy + 0.5f;
    for (std::uint32_t x = r.x; x < r.x + r.width; ++x) {
      const float tx = ((x + 0.5f) / frameW - 0.5f) / sx + 0.5f;
      if (tx < 0 || tx > 1 || ty < 0 || ty > 1) continue;
      const int px = std::min(picture.width - 1, static_cast<int>(tx * picture.width));
      const int py = std::min(picture.height - 1, static_cast<int>(ty * picture.height));
      const std::uint8_t luma = picture.y[static_cast<std::size_t>(py) * picture.width + px];
      std::uint8_t* d = img.pixels.data() + ((y - r.y) * std::size_t{r.width} + x - r.x) * 4;
      d[0] = d[1] = d[2] = luma;
      d[3] = 255;
    }
  }
  return img;
}

// Guards against looking for either stamp in the wrong place once the clip scales, letterboxes
// or pillarboxes the picture: every latency sample would be lost, every picture damaged.
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
    for (const phone::StampCorner corner :
         {phone::StampCorner::kTopLeft, phone::StampCorner::kBottomRight}) {
      SCOPED_TRACE(std::to_string(c.picW) + "x" + std::to_string(c.picH) + " in " +
                   std::to_string(c.frameW) + "x" + std::to_string(c.frameH) + " mode " +
                   std::to_string(static_cast<int>(c.fit)) + " corner " +
                   std::to_string(static_cast<int>(corner)));
      const phone::Stamp stamp{4242, 987654321012ull};
      phone::YuvPicture picture;
      phone::renderTestPattern(stamp, c.picW, c.picH, picture, true);
      const Placement p = placePicture(c.frameW, c.frameH, c.picW, c.picH, c.fit);
      const FrameRect rect = stampRect(p, c.frameW, c.frameH, c.picW, c.picH, corner);
      const RgbaImage region = drawLikeTheClip(picture, c.frameW, c.frameH, c.fit, rect);
      const auto read =
          rect.width ? readDrawnStamp(region, rect, p, c.picW, c.picH, corner) : std::nullopt;
      ASSERT_EQ(read.has_value(), c.readable);
      if (read) {
        EXPECT_EQ(*read, stamp);
      }
    }
  }
}

}  // namespace
}  // namespace mirandel::host
