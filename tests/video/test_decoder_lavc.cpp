// The Linux decoder on clips FFmpeg and GStreamer made, as senders other than the phone send
// them, held against FFmpeg's own decode, and for colour against its own conversion (libswscale
// for the matrices, zscale for BT.2020 primaries and HLG).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "support/TestSupport.h"
#include "video/Decoder.h"
#include "video/LavcDecoder.h"
#include "video/Yuv420ToBgra.h"
#include "video/test_decoded_pictures.h"
#include "video/test_decoder_clips.h"

namespace mirandel {
namespace {

std::string clipDir() { return test::binaryPath("tests/video/decoder-clips"); }

// The clip's units, stamped after the `first` units of the parts before it.
std::vector<AccessUnit> unitsOf(const std::string& path, std::size_t first) {
  std::vector<AccessUnit> units = test::readAccessUnits(path);
  for (AccessUnit& u : units) {
    u.pts += static_cast<std::int64_t>(first) * 90000;
    u.completedAt += static_cast<Nanos>(first) * kMillisecond;
  }
  return units;
}

// A stream as one sender delivers it: the clips' units one after another.
struct StreamCase {
  const char* name;
  std::vector<test::ClipRecipe> parts;
};

class RealStream : public ::testing::TestWithParam<StreamCase> {};

const test::ClipRecipe kH264{kCodecH264, 200, 120, 6};
const test::ClipRecipe kFullHdCropped{kCodecH264, 1918, 1078, 3};

// Sizes that are not whole coding blocks, so that cropping and odd chroma edges are exercised.
// A plain H.264 stream is the first part of the size change.
const StreamCase kStreams[] = {
    {"Hevc", {{kCodecHevc, 198, 118, 6}}},
    {"HevcMain10", {{kCodecHevc, 198, 118, 6, "yuv420p10le"}}},
    {"H264High10", {{kCodecH264, 200, 120, 4, "yuv420p10le"}}},
    {"H264FullRange", {{kCodecH264, 200, 120, 4, "yuvj420p"}}},
    {"HevcFullRange", {{kCodecHevc, 198, 118, 4, "yuvj420p"}}},
    {"HevcMain10FullRange", {{kCodecHevc, 198, 118, 4, "yuv420p10le", /*fullRange=*/true}}},
    {"H264SizeChange", {kH264, kFullHdCropped}},
    {"H264BPicturesWithAac",
     {{kCodecH264, 200, 120, 30, "yuv420p", false, /*bFramesWithAudio=*/true}}},
    {"HevcBPicturesWithAac",
     {{kCodecHevc, 198, 118, 30, "yuv420p", false, /*bFramesWithAudio=*/true}}},
};

INSTANTIATE_TEST_SUITE_P(Senders, RealStream, ::testing::ValuesIn(kStreams),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards against misread strides or crops, 10-bit streams giving no pictures, full range
// converted as limited, lost or repeated pictures, a size change inside the stream, a picture
// held back without B-pictures, and B-pictures out of display order or with the stamps of the
// unit that released them.
TEST_P(RealStream, EveryPictureMatchesFfmpegAndCarriesItsOwnUnitsStamps) {
  const std::vector<test::ClipRecipe>& parts = GetParam().parts;
  std::vector<std::string> paths;
  std::vector<AccessUnit> units;
  std::vector<std::size_t> unitsPerPart;
  for (const test::ClipRecipe& recipe : parts) {
    paths.push_back(test::makeClip(recipe, clipDir()));
    std::vector<AccessUnit> partUnits = unitsOf(paths.back(), units.size());
    ASSERT_FALSE(partUnits.empty()) << "no units: could ffmpeg encode the clip?";
    unitsPerPart.push_back(partUnits.size());
    for (AccessUnit& u : partUnits) units.push_back(std::move(u));
  }

  std::vector<test::Delivered> pictures;
  auto decoder = makeDecoder([&](const Frame& f) { pictures.push_back(test::delivered(f)); });
  const bool reordered = parts.front().bFramesWithAudio;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::size_t before = pictures.size();
    ASSERT_TRUE(decoder->decode(units[i], parts.front().codec)) << "unit " << i;
    if (!reordered) {
      EXPECT_EQ(pictures.size(), before + 1) << "unit " << i << " gave no picture";
    }
  }
  const DecoderInfo info = decoder->info();
  EXPECT_EQ(std::tuple(info.errors, info.refusal, info.outputWidth, info.outputHeight),
            std::tuple(0u, "", parts.back().width, parts.back().height));
  // With B-pictures the last few stay in the decoder: nothing flushes it.
  ASSERT_GE(pictures.size() + (reordered ? 4 : 0), units.size());
  ASSERT_LE(pictures.size(), units.size()) << "a unit gave two pictures";

  test::expectDisplayOrder(pictures, units);

  // Exact: FFmpeg's decoded planes through our conversion (held to libswscale's elsewhere).
  std::size_t n = 0;
  for (std::size_t part = 0; part < parts.size() && n < pictures.size(); ++part) {
    const test::ClipRecipe& recipe = parts[part];
    // FFmpeg's decode of the clip as raw frames in its own pixel format, one per picture.
    const std::string raw = test::commandOutput("ffmpeg -nostdin -v error -i '" + paths[part] +
                                                "' -map 0:v -fps_mode passthrough -pix_fmt " +
                                                recipe.pixFmt + " -f rawvideo -");
    const std::uint8_t depth = recipe.pixFmt == "yuv420p10le" ? 10 : 8;
    ASSERT_GE(raw.size(),
              test::rawFrameBytes(recipe.width, recipe.height, depth) * unitsPerPart[part]);
    for (std::size_t k = 0; k < unitsPerPart[part] && n < pictures.size(); ++k, ++n) {
      ASSERT_EQ(pictures[n].width, recipe.width) << "picture " << n;
      ASSERT_EQ(pictures[n].height, recipe.height) << "picture " << n;
      std::vector<std::uint8_t> want(std::size_t{recipe.width} * recipe.height * 4);
      convertToBgra(test::rawFrame(reinterpret_cast<const std::uint8_t*>(raw.data()), recipe.width,
                                   recipe.height, depth, test::colorSpaceOf(recipe), k),
                    want.data(), std::size_t{recipe.width} * 4);
      ASSERT_EQ(pictures[n].bgra, want) << "picture " << n << " differs from FFmpeg's decode";
    }
  }
}

struct RefusedCase {
  const char* name;
  test::ClipRecipe recipe;
  const char* refusal;
};

class RefusedStream : public ::testing::TestWithParam<RefusedCase> {};

// 8256 x 8192: just over 8192 x 8192 in area.
const test::ClipRecipe kOverTheArea{
    .codec = kCodecH264, .width = 8256, .height = 8192, .frames = 1, .flat = true};

const RefusedCase kRefusedStreams[] = {
    {"H264444", {kCodecH264, 64, 48, 2, "yuv444p"}, "unsupported picture format: 4:4:4"},
    {"H264422", {kCodecH264, 64, 48, 2, "yuv422p"}, "unsupported picture format: 4:2:2"},
    {"Hevc12Bit", {kCodecHevc, 64, 48, 2, "yuv420p12le"}, "unsupported picture format: 12-bit"},
    {"Hevc444At12Bit",
     {kCodecHevc, 64, 48, 2, "yuv444p12le"},
     "unsupported picture format: 4:4:4 12-bit"},
    // Monochrome H.264 comes out as 4:2:0 with neutral chroma, and is shown; HEVC does not.
    {"HevcMonochrome", {kCodecHevc, 64, 48, 2, "gray"}, "unsupported picture format: monochrome"},
    {"H264OverTheArea", kOverTheArea, "picture too large: 8256x8192"},
};

INSTANTIATE_TEST_SUITE_P(Senders, RefusedStream, ::testing::ValuesIn(kRefusedStreams),
                         [](const auto& param) { return std::string(param.param.name); });

// Guards against streams the conversion cannot read failing silently or read as 8-bit 4:2:0,
// and against pictures of hundreds of megabytes allocated before anything refuses them: the
// codec library's own pixel limit must refuse them before decoding.
TEST_P(RefusedStream, PicturesAreRefusedWithTheReasonNamed) {
  const RefusedCase& c = GetParam();
  const std::string path = test::makeClip(c.recipe, clipDir());
  std::vector<AccessUnit> units = test::readAccessUnits(path);
  ASSERT_FALSE(units.empty()) << "no units: could ffmpeg encode the clip?";
  int frames = 0;
  auto decoder = makeDecoder([&](const Frame&) { ++frames; });
  // A picture held back is refused when it comes out.
  for (AccessUnit& unit : units) decoder->decode(unit, c.recipe.codec);
  EXPECT_EQ(frames, 0);
  EXPECT_EQ(decoder->info().refusal, c.refusal);
  if (!c.recipe.flat) return;
  auto backend = makeLavcBackend();
  ASSERT_TRUE(backend->open(c.recipe.codec));
  EXPECT_TRUE(backend->submit(units[0], true));
  test::RecordingSink sink;
  EXPECT_FALSE(backend->drain(sink));
  EXPECT_TRUE(sink.planes.empty());
  EXPECT_EQ(sink.refusals, (decltype(sink.refusals){{"", 8256, 8192}}));
}

struct ColourCase {
  const char* name;
  test::ClipRecipe recipe;
  // FFmpeg's filter from the decoded picture to rgb24.
  const char* reference;
  int tolerance;  // levels
};

// libswscale's matrix conversion at its accurate setting.
#define MIRANDEL_SWSCALE(matrix)                              \
  "scale=in_color_matrix=" matrix                             \
  ":in_range=tv:flags=neighbor+accurate_rnd+full_chroma_int," \
  "format=rgb24"
// zscale to BT.709 SDR, white at 203 cd/m2, into planar RGB itself (left to choose, it hands
// libswscale a YUV picture that then goes through BT.601).
#define MIRANDEL_ZSCALE(transfer)              \
  "zscale=min=2020_ncl:pin=2020:tin=" transfer \
  ":rin=tv:m=bt709:p=bt709:t=bt709:r=pc:"      \
  "npl=203,format=gbrp,format=rgb24"

constexpr ColorCodes kBt601{6, 6, 6};
constexpr ColorCodes kBt709{1, 1, 1};
constexpr ColorCodes kBt2020Sdr{9, 14, 9};
constexpr ColorCodes kBt2020Hlg{9, 18, 9};

test::ClipRecipe bars(CodecKind codec, std::uint32_t width, std::uint32_t height, ColorCodes color,
                      const char* pixFmt = "yuv420p") {
  test::ClipRecipe s{codec, width, height, 1, pixFmt};
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

// Guards against a colour description ignored or misread: BT.601 senders (GStreamer flags
// every SD stream so) drawn as BT.709, an unflagged SD stream not taken as BT.601, BT.2020
// primaries unconverted, HLG shown as SDR, and linear light straying from zscale. Compared where
// FFmpeg's picture is flat over 5 x 5 pixels: chroma upsampling at the edges differs by design.
TEST_P(ColourStream, FlatAreasMatchFfmpegsConversion) {
  const ColourCase& c = GetParam();
  const std::string path = test::makeClip(c.recipe, clipDir());
  std::vector<std::uint8_t> ours;
  auto decoder = makeDecoder([&](const Frame& f) {
    if (ours.empty()) ours = test::bgraOf(f);
  });
  for (AccessUnit& unit : test::readAccessUnits(path)) decoder->decode(unit, c.recipe.codec);
  const std::size_t w = c.recipe.width, h = c.recipe.height;
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
