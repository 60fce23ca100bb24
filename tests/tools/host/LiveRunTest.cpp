// The live run's measuring pieces: if these are wrong, the demo and the latency benchmark
// report figures about the host's arithmetic rather than about the plug-in.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
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
  // (name, values, median, p95, max)
  const std::tuple<const char*, std::vector<double>, double, double, double> cases[] = {
      {"empty", {}, 0, 0, 0},
      {"one", {7.5}, 7.5, 7.5, 7.5},
      {"odd", {3, 1, 2}, 2, 3, 3},
      {"even", {4, 1, 3, 2}, 2.5, 4, 4},
      {"twenty", twenty, 10.5, 19, 20},
      {"outside the counted range", {2500, 1, -3, 2}, 1.5, 2500, 2500}};
  for (const auto& [name, values, median, p95, max] : cases) {
    SCOPED_TRACE(name);
    // Every figure here is exact in binary, and so is the mean of two of them.
    const LatencySummary s = summarise(values);
    EXPECT_EQ(std::tuple(s.count, s.median, s.p95, s.max),
              std::tuple(values.size(), median, p95, max));
    LatencyHistogram h;
    for (double v : values) h.add(v);
    const LatencySummary counted = h.summary();
    EXPECT_EQ(counted.count, values.size());
    EXPECT_NEAR(counted.median, median, 0.051);
    EXPECT_NEAR(counted.p95, p95, 0.051);
    EXPECT_DOUBLE_EQ(counted.max, max);
  }
}

// Guards against a parser that takes the receiver's words for a picture size, or loses the
// transport figure beside the no-frames flag, or the frame rate the multi-clip run adds up.
TEST(PictureText, SizeRateAndTransportAreReadOnlyFromAStreamingLine) {
  // Width, height, frames per second and transport milliseconds; none for a line that is not a
  // streaming one. The figures have at most one decimal, which binary holds exactly.
  using Figures = std::tuple<std::uint32_t, std::uint32_t, double, double>;
  const std::pair<std::string, std::optional<Figures>> cases[] = {
      {"1920x1080 H.264 30 fps \xC2\xB7 12.5 ms transport \xC2\xB7 sw",
       Figures{1920, 1080, 30, 12.5}},
      {"1080x1920 HEVC 0 fps \xC2\xB7 3.0 ms transport \xC2\xB7 hw \xC2\xB7 no frames",
       Figures{1080, 1920, 0, 3.0}},
      {"connecting to 169.254.77.2:9010", std::nullopt},
      {"connected", std::nullopt},
      {"\xE2\x80\x94", std::nullopt},
      {"0x0 - 0 fps \xC2\xB7 1.0 ms transport \xC2\xB7 sw", std::nullopt}};
  for (const auto& [text, figures] : cases) {
    Figures read{0, 0, -1, 0};
    auto& [w, h, fps, t] = read;
    const bool ok = parsePictureText(text, &w, &h, &t, &fps);
    EXPECT_EQ(ok ? std::optional(read) : std::nullopt, figures) << text;
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
  // (picture width, height, frame width, height, mode, whether the stamp stays in view)
  const std::tuple<int, int, std::uint32_t, std::uint32_t, FitMode, bool> cases[] = {
      {1920, 1080, 1920, 1080, FitMode::kFit, true},     // one to one
      {1280, 720, 1920, 1080, FitMode::kFit, true},      // scaled up by 1.5
      {1920, 1080, 1280, 720, FitMode::kStretch, true},  // scaled down
      {1080, 1920, 1920, 1080, FitMode::kFit, true},     // pillarbox: stamp moves right
      {1920, 1080, 1000, 1000, FitMode::kFit, true},     // letterbox: stamp moves down
      {1280, 720, 1000, 1000, FitMode::kFill, false},    // sides cropped: corner gone
      {1080, 1920, 1920, 1080, FitMode::kFill, false},   // top cropped: corner gone
  };
  for (const auto& [picW, picH, frameW, frameH, fit, readable] : cases) {
    for (const phone::StampCorner corner :
         {phone::StampCorner::kTopLeft, phone::StampCorner::kBottomRight}) {
      SCOPED_TRACE(::testing::Message()
                   << picW << "x" << picH << " in " << frameW << "x" << frameH << " mode "
                   << static_cast<int>(fit) << " corner " << static_cast<int>(corner));
      const phone::Stamp stamp{4242, 987654321012ull};
      phone::YuvPicture picture;
      phone::renderTestPattern(stamp, picW, picH, picture, true);
      const Placement p = placePicture(frameW, frameH, picW, picH, fit);
      const FrameRect rect = stampRect(p, frameW, frameH, picW, picH, corner);
      const RgbaImage region = drawLikeTheClip(picture, frameW, frameH, fit, rect);
      const auto read =
          rect.width ? readDrawnStamp(region, rect, p, picW, picH, corner) : std::nullopt;
      EXPECT_EQ(read, readable ? std::optional(stamp) : std::nullopt);
    }
  }
}

}  // namespace
}  // namespace mirandel::host
