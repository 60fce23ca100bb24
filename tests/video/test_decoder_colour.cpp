// Colour as senders describe it: streams flagged BT.601, BT.709, BT.2020 SDR and BT.2020 HLG,
// made by FFmpeg and by GStreamer, decoded through makeDecoder and held against FFmpeg's own
// conversion of the same stream: libswscale for the matrices alone, zscale (libzimg) for
// BT.2020 primaries and HLG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "video/Decoder.h"
#include "video/test_decoder_clips.h"

namespace mirandel {
namespace {

struct ColourCase {
  const char* name;
  test::ClipSpec spec;
  // FFmpeg's filter from the decoded picture to rgb24.
  const char* reference;
  int tolerance;  // levels
};

// libswscale's matrix conversion at its accurate setting.
#define MIRANDEL_SWSCALE(matrix)                              \
  "scale=in_color_matrix=" matrix                             \
  ":in_range=tv:flags=neighbor+accurate_rnd+full_chroma_int," \
  "format=rgb24"
// zscale to BT.709 SDR with reference white at 203 cd/m2, into planar RGB itself: left to pick
// its output format, it hands libswscale a YUV picture that then goes through BT.601.
#define MIRANDEL_ZSCALE(transfer)              \
  "zscale=min=2020_ncl:pin=2020:tin=" transfer \
  ":rin=tv:m=bt709:p=bt709:t=bt709:r=pc:"      \
  "npl=203,format=gbrp,format=rgb24"

constexpr ColorCodes kBt601{6, 6, 6};
constexpr ColorCodes kBt709{1, 1, 1};
constexpr ColorCodes kBt2020Sdr{9, 14, 9};
constexpr ColorCodes kBt2020Hlg{9, 18, 9};

test::ClipSpec bars(CodecKind codec, std::uint32_t width, std::uint32_t height, ColorCodes color,
                    const char* pixFmt = "yuv420p") {
  test::ClipSpec s{codec, width, height, 1, pixFmt};
  s.color = color;
  s.source = "smptehdbars";
  return s;
}

const ColourCase kCases[] = {
    {"FfmpegH264Bt601", bars(kCodecH264, 320, 240, kBt601), MIRANDEL_SWSCALE("bt601"), 2},
    // Flagged, an HD stream is BT.601 too, whatever its height suggests.
    {"FfmpegH264HdBt601", bars(kCodecH264, 1280, 720, kBt601), MIRANDEL_SWSCALE("bt601"), 2},
    // Unflagged, an SD stream is BT.601, an HD one BT.709.
    {"FfmpegH264SdUnflagged", bars(kCodecH264, 320, 240, {}), MIRANDEL_SWSCALE("bt601"), 2},
    {"FfmpegHevcHdUnflagged", bars(kCodecHevc, 1280, 720, {}), MIRANDEL_SWSCALE("bt709"), 2},
    {"FfmpegHevcBt709", bars(kCodecHevc, 320, 240, kBt709), MIRANDEL_SWSCALE("bt709"), 2},
    {"GstreamerH264Sd",
     {.codec = kCodecH264, .width = 320, .height = 240, .frames = 1, .gstreamer = true},
     MIRANDEL_SWSCALE("bt601"),
     2},
    {"FfmpegHevcBt2020Sdr", bars(kCodecHevc, 320, 240, kBt2020Sdr, "yuv420p10le"),
     MIRANDEL_ZSCALE("2020_10"), 6},
    {"FfmpegHevcBt2020Hlg", bars(kCodecHevc, 320, 240, kBt2020Hlg, "yuv420p10le"),
     MIRANDEL_ZSCALE("arib-std-b67"), 6},
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class ColourStream : public ::testing::TestWithParam<ColourCase> {};

INSTANTIATE_TEST_SUITE_P(Senders, ColourStream, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards against a stream's colour description ignored or misread: BT.601 senders (GStreamer
// flags every SD stream so) drawn by BT.709 with skin tones gone green, an unflagged SD stream
// not taken as BT.601, BT.2020 primaries shown unconverted (washed out), HLG shown as if SDR
// (dark and flat), and the linear-light path straying from zscale. Compared where FFmpeg's
// picture is flat over 5 x 5 pixels, so that chroma upsampling at the bars' edges, where the
// two conversions differ by design, is left out.
TEST_P(ColourStream, FlatAreasMatchFfmpegsConversion) {
  const ColourCase& c = GetParam();
  const std::string path = test::makeClip(c.spec, test::binaryPath("tests/video/decoder-clips"));
  ASSERT_FALSE(path.empty()) << "could not encode the clip";
  std::vector<std::uint8_t> ours;
  auto decoder = makeDecoder([&](const Frame& f) {
    if (!ours.empty()) return;
    for (std::uint32_t r = 0; r < f.height; ++r) {
      ours.insert(ours.end(), f.data + r * f.stride, f.data + r * f.stride + f.width * 4);
    }
  });
  for (AccessUnit& unit : test::readAccessUnits(path)) decoder->decode(unit, c.spec.codec);
  const std::size_t w = c.spec.width, h = c.spec.height;
  ASSERT_EQ(ours.size(), w * h * 4) << "no picture";
  const std::string theirs =
      test::commandOutput("ffmpeg -nostdin -v error -i '" + path + "' -frames:v 1 -vf '" +
                          c.reference + "' -f rawvideo -");
  ASSERT_EQ(theirs.size(), w * h * 3) << "FFmpeg gave no picture";
  const auto at = [&](std::size_t x, std::size_t y, int channel) {
    return static_cast<int>(static_cast<std::uint8_t>(theirs[(y * w + x) * 3 + channel]));
  };
  std::size_t compared = 0;
  int worst = 0;
  for (std::size_t y = 2; y + 2 < h; ++y) {
    for (std::size_t x = 2; x + 2 < w; ++x) {
      bool flat = true;
      for (int channel = 0; channel < 3 && flat; ++channel) {
        for (int dy = -2; dy <= 2 && flat; ++dy) {
          for (int dx = -2; dx <= 2 && flat; ++dx) {
            flat = std::abs(at(x + dx, y + dy, channel) - at(x, y, channel)) <= 2;
          }
        }
      }
      if (!flat) continue;
      ++compared;
      for (int channel = 0; channel < 3; ++channel) {
        // rgb24 against BGRA.
        const int mine = ours[(y * w + x) * 4 + 2 - channel];
        worst = std::max(worst, std::abs(mine - at(x, y, channel)));
      }
    }
  }
  EXPECT_GE(compared, w * h / 3) << "too little of the picture is flat";
  EXPECT_LE(worst, c.tolerance) << "largest channel difference";
  RecordProperty("largest_difference", worst);
}

}  // namespace
}  // namespace mirandel
