// The Linux decoder on real streams: FFmpeg-encoded clips decoded through
// makeDecoder and held against FFmpeg's own decode and BT.709 conversion.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "video/Decoder.h"
#include "video/Yuv420ToBgra.h"
#include "video/test_decoder_clips.h"

namespace mirandel {
namespace {

struct Decoded {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> bgra;
};

std::string clipDir() { return test::binaryPath("tests/video/decoder-clips"); }

// FFmpeg's decode of the clip as raw frames in the given pixel format, with
// any extra filter.
std::vector<std::uint8_t> ffmpegDecode(const std::string& clip, const std::string& pixFmt,
                                       const std::string& filter, const std::string& tag) {
  const std::string out = clip + "." + tag + "." + std::to_string(getpid()) + ".raw";
  const std::string command = "ffmpeg -nostdin -v error -y -i '" + clip + "' " +
                              (filter.empty() ? "" : "-vf '" + filter + "' ") + "-pix_fmt " +
                              pixFmt + " -f rawvideo '" + out + "'";
  if (test::runCommand(command) != 0) return {};
  auto bytes = test::readFile(out);
  std::remove(out.c_str());
  return bytes;
}

struct ClipCase {
  const char* name;
  test::ClipSpec spec;
};

class LavcDecoderClip : public ::testing::TestWithParam<ClipCase> {};

// Sizes that are not whole macroblocks / coding blocks, so the decoder's
// cropping is exercised, and odd chroma edges with it.
INSTANTIATE_TEST_SUITE_P(Clips, LavcDecoderClip,
                         ::testing::Values(ClipCase{"H264", {kCodecH264, 200, 120, 6}},
                                           ClipCase{"Hevc", {kCodecHevc, 198, 118, 6}}),
                         [](const auto& clipInfo) { return std::string(clipInfo.param.name); });

// Guards against a wrong picture from the decoder path as a whole: misread
// strides or crops, lost or repeated pictures, wrong planes, a delayed
// picture (one unit in must give its picture out at once), and colours that
// stray from FFmpeg's BT.709 conversion.
TEST_P(LavcDecoderClip, EveryUnitYieldsItsPictureMatchingFfmpeg) {
  const test::ClipSpec spec = GetParam().spec;
  const std::string clip = test::makeClip(spec, clipDir());
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not encode the clip";
  std::vector<AccessUnit> units = test::readAccessUnits(clip);
  ASSERT_EQ(units.size(), static_cast<std::size_t>(spec.frames));

  std::vector<Decoded> pictures;
  auto decoder = makeDecoder([&](const Frame& f) {
    Decoded d{f.width, f.height, {}};
    for (std::uint32_t r = 0; r < f.height; ++r) {
      const std::uint8_t* row = f.data + r * f.stride;
      d.bgra.insert(d.bgra.end(), row, row + std::size_t{f.width} * 4);
    }
    pictures.push_back(std::move(d));
  });
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::size_t before = pictures.size();
    ASSERT_TRUE(decoder->decode(units[i], spec.codec)) << "unit " << i;
    EXPECT_EQ(pictures.size(), before + 1) << "unit " << i << " gave no picture at once";
  }
  const DecoderInfo info = decoder->info();
  EXPECT_EQ(info.framesOut, units.size());
  EXPECT_EQ(info.errors, 0u);
  EXPECT_EQ(info.outputWidth, spec.width);
  EXPECT_EQ(info.outputHeight, spec.height);
  EXPECT_FALSE(info.hardware);
  ASSERT_EQ(pictures.size(), units.size());

  const std::size_t w = spec.width, h = spec.height;
  const std::size_t frameBytes = w * h * 4;

  // Exact: FFmpeg's decoded planes through the integer rule.
  const auto yuv = ffmpegDecode(clip, "yuv420p", "", "yuv");
  const std::size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
  const std::size_t yuvBytes = w * h + 2 * cw * ch;
  ASSERT_EQ(yuv.size(), yuvBytes * units.size());
  for (std::size_t n = 0; n < pictures.size(); ++n) {
    ASSERT_EQ(pictures[n].width, w);
    ASSERT_EQ(pictures[n].height, h);
    YuvPicture p;
    p.layout = ChromaLayout::kPlanar;
    p.width = static_cast<std::uint32_t>(w);
    p.height = static_cast<std::uint32_t>(h);
    p.y = yuv.data() + n * yuvBytes;
    p.yStride = w;
    p.u = p.y + w * h;
    p.uStride = cw;
    p.v = p.u + cw * ch;
    p.vStride = cw;
    std::vector<std::uint8_t> want(frameBytes);
    convertToBgra(p, want.data(), w * 4);
    ASSERT_EQ(pictures[n].bgra, want) << "picture " << n << " differs from FFmpeg's decode";
  }

  // Within a few levels of FFmpeg's own BT.709 limited-range conversion
  // (point sampling of chroma, like ours).
  const auto reference =
      ffmpegDecode(clip, "bgra",
                   "scale=in_color_matrix=bt709:in_range=tv:out_range=full:flags=neighbor", "bgra");
  ASSERT_EQ(reference.size(), frameBytes * units.size());
  int maxDiff = 0;
  for (std::size_t n = 0; n < pictures.size(); ++n) {
    for (std::size_t i = 0; i < frameBytes; ++i) {
      maxDiff = std::max(maxDiff,
                         std::abs(int{pictures[n].bgra[i]} - int{reference[n * frameBytes + i]}));
    }
  }
  EXPECT_LE(maxDiff, 3) << "largest channel difference from FFmpeg's conversion";
}

// Guards against misreading a stream the kernels cannot convert: a 10-bit
// clip must count errors and deliver nothing, not garbage.
TEST(LavcDecoder, TenBitStreamIsRefusedNotMisread) {
  const std::string dir = clipDir();
  const std::string path = dir + "/h264-10bit.h264";
  std::filesystem::create_directories(dir);
  const std::string partial = path + ".part" + std::to_string(getpid());
  ASSERT_EQ(test::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=64x48 "
                             "-frames:v 2 -pix_fmt yuv420p10le -c:v libx264 -bf 0 -f h264 '" +
                             partial + "'"),
            0);
  std::filesystem::rename(partial, path);
  std::vector<AccessUnit> units = test::readAccessUnits(path);
  ASSERT_FALSE(units.empty());
  int frames = 0;
  auto decoder = makeDecoder([&](const Frame&) { ++frames; });
  EXPECT_FALSE(decoder->decode(units[0], kCodecH264));
  EXPECT_EQ(frames, 0);
  EXPECT_EQ(decoder->info().errors, 1u);
}

}  // namespace
}  // namespace mirandel
