// The Windows decoder on Media Foundation's (Wine's in CI): streams FFmpeg made on the build
// machine (mf_fixtures.sh), held against FFmpeg's decode of them, the planes Linux converts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "support/TestSupport.h"
#include "video/DecoderCore.h"
#include "video/MFDecoder.h"
#include "video/MFTransform.h"
#include "video/TsDemuxer.h"
#include "video/Yuv420ToBgra.h"
#include "video/test_decoded_pictures.h"

namespace mirandel {
namespace {

// Pictures a decoder may keep before the first comes out: Wine's keeps one (three with
// B-pictures), Windows' none in low-latency mode but for reordering.
constexpr std::size_t kMaxHeldBack = 4;

// Room for a decoder that post-processes its chroma; a misread buffer is off by tens of levels.
constexpr int kChromaTolerance = 2;

// Under Wine drive Z: is the Unix root; on Windows MIRANDEL_MF_FIXTURES names a copied folder.
std::string fixture(const std::string& name) {
  std::string dir = test::binaryPath("tests/video/mf-fixtures");
  if (const char* copied = std::getenv("MIRANDEL_MF_FIXTURES")) dir = copied;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir + "/" + name;
}

std::vector<AccessUnit> unitsOf(const std::string& name, CodecKind& codec) {
  return unitsOfRecording(test::readFile(fixture(name + ".ts")), &codec);
}

// The Media Foundation backend, with the pictures it hands to the core recorded.
class RecordingBackend final : public DecoderBackend {
 public:
  explicit RecordingBackend(test::RecordingSink& tap) : inner_(makeMFBackend()), tap_(tap) {}
  bool open(CodecKind codec) override { return inner_->open(codec); }
  std::string openFailure() const override { return inner_->openFailure(); }
  void close() override { inner_->close(); }
  bool submit(const AccessUnit& unit, bool key) override { return inner_->submit(unit, key); }
  bool drain(PictureSink& sink) override {
    tap_.next = &sink;
    return inner_->drain(tap_);
  }
  bool hardware() const override { return inner_->hardware(); }

 private:
  std::unique_ptr<DecoderBackend> inner_;
  test::RecordingSink& tap_;
};

// makeDecoder's decoder, with the backend's pictures recorded on the way.
struct RecordedDecoder {
  RecordedDecoder()
      : decoder(
            std::make_unique<RecordingBackend>(tap),
            [this](const Frame& f) { frames.push_back(test::delivered(f)); }, steadyClock()) {}
  test::RecordingSink tap;
  std::vector<test::Delivered> frames;
  DecoderCore decoder;
};

int largestDifference(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  int largest = 0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, std::abs(int{a[i]} - int{b[i]}));
  return largest;
}

struct StreamCase {
  const char* name;
  std::uint32_t width, height;
  ColorRange range;
  // What the stream's description gives: unflagged below 720 rows, or flagged, BT.601.
  ColorMatrix matrix = ColorMatrix::kBt601;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class MFStream : public ::testing::TestWithParam<StreamCase> {};

const StreamCase kStreams[] = {
    {"h264-200x120", 200, 120, ColorRange::kLimited},
    {"h264-200x120-bframes", 200, 120, ColorRange::kLimited},
    {"h264-200x120-fullrange", 200, 120, ColorRange::kFull},
    // Wine's decoder gives 1920 x 1088 with no display aperture.
    {"h264-1920x1080", 1920, 1080, ColorRange::kLimited},
    {"h264-1918x1078", 1918, 1078, ColorRange::kLimited},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, MFStream, ::testing::ValuesIn(kStreams), [](const auto& param) {
  std::string name = param.param.name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// Guards against a misread buffer (1080p's padding rows shown, chroma from the wrong row or
// pitch, full range taken as limited, BT.601 as BT.709), pictures lost or repeated at the first
// output-type change or carrying the stamps of the unit that released them, and a drain that
// leaves ready pictures to pile up. Fed twice: the second pass pushes out the first.
TEST_P(MFStream, EveryPictureMatchesTheLinuxDecodersAndCarriesItsOwnUnitsStamps) {
  const StreamCase& c = GetParam();
  CodecKind codec = kCodecNone;
  std::vector<AccessUnit> first = unitsOf(c.name, codec);
  ASSERT_FALSE(first.empty()) << "no units in " << fixture(std::string(c.name) + ".ts");
  std::vector<AccessUnit> again = first;
  const std::int64_t later = 90000 * 60;
  for (std::size_t i = 0; i < again.size(); ++i) {
    again[i].pts += later;
    again[i].completedAt = static_cast<Nanos>(first.size() + i + 1) * kMillisecond;
  }

  RecordedDecoder d;
  std::size_t mostHeld = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    ASSERT_TRUE(d.decoder.decode(first[i], codec)) << "unit " << i;
    mostHeld = std::max(mostHeld, i + 1 - std::min(i + 1, d.frames.size()));
  }
  EXPECT_LE(mostHeld, kMaxHeldBack) << "pictures held back";
  for (AccessUnit& u : again) ASSERT_TRUE(d.decoder.decode(u, codec));
  const DecoderInfo info = d.decoder.info();
  EXPECT_EQ(std::tuple(info.errors, info.refusal, info.outputWidth, info.outputHeight),
            std::tuple(0u, "", c.width, c.height));
  ASSERT_GE(d.frames.size(), first.size()) << "pictures of the first pass still held";
  ASSERT_EQ(d.tap.planes.size(), d.frames.size());

  test::expectDisplayOrder(d.frames, first);

  const std::vector<std::uint8_t> raw = test::readFile(fixture(std::string(c.name) + ".yuv"));
  const std::size_t w = c.width, h = c.height, chroma = ((w + 1) / 2) * ((h + 1) / 2);
  ASSERT_GE(raw.size(), (w * h + 2 * chroma) * first.size());
  int lumaDiff = 0, chromaDiff = 0, bgraDiff = 0;
  std::vector<std::uint8_t> linuxPicture(w * h * 4);
  for (std::size_t n = 0; n < first.size(); ++n) {
    const test::Planes& p = d.tap.planes[n];
    // An 8-bit stream comes as NV12.
    ASSERT_EQ(std::tuple(p.width, p.height, p.bitDepth, p.range, p.matrix),
              std::tuple(c.width, c.height, std::uint8_t{8}, c.range, c.matrix))
        << "picture " << n;
    const YuvPicture ref =
        test::rawFrame(raw.data(), c.width, c.height, 8,
                       {c.matrix, ColorTransfer::kSdr, ColorPrimaries::kBt709, c.range}, n);
    lumaDiff = std::max(lumaDiff, largestDifference(p.y.data(), ref.y, w * h));
    chromaDiff = std::max(chromaDiff, largestDifference(p.u.data(), ref.u, chroma));
    chromaDiff = std::max(chromaDiff, largestDifference(p.v.data(), ref.v, chroma));
    // The Linux decoder's picture is our conversion of FFmpeg's planes.
    convertToBgra(ref, linuxPicture.data(), w * 4);
    ASSERT_EQ(d.frames[n].bgra.size(), linuxPicture.size());
    bgraDiff = std::max(bgraDiff, largestDifference(d.frames[n].bgra.data(), linuxPicture.data(),
                                                    linuxPicture.size()));
  }
  EXPECT_EQ(lumaDiff, 0);
  EXPECT_LE(chromaDiff, kChromaTolerance);
  RecordProperty("largest_chroma_difference", chromaDiff);
  RecordProperty("largest_bgra_difference", bgraDiff);
  EXPECT_LE(bgraDiff, 2 * kChromaTolerance + 1) << "largest channel difference";
}

// Guards against a reset that lets the old connection's pictures out afterwards, and a transform
// that cannot be closed and opened again.
TEST(MFDecoder, ForgetsHeldPicturesOnResetAndDecodesTheNextStreamFromItsKeyPicture) {
  CodecKind codec = kCodecNone;
  std::vector<AccessUnit> units = unitsOf("h264-200x120", codec);
  ASSERT_EQ(units.size(), 40u);  // key pictures at units 0 and 30
  RecordedDecoder d;
  for (std::size_t i = 0; i < 35; ++i) ASSERT_TRUE(d.decoder.decode(units[i], codec)) << i;
  d.decoder.reset();
  const std::size_t before = d.frames.size();
  for (std::size_t i = 35; i < 40; ++i) ASSERT_TRUE(d.decoder.decode(units[i], codec));
  EXPECT_EQ(d.frames.size(), before) << "nothing of the old stream after a reset";
  for (std::size_t i = 0; i < 5; ++i) ASSERT_TRUE(d.decoder.decode(units[i], codec));
  EXPECT_EQ(d.decoder.info().errors, 0u);
  ASSERT_GT(d.frames.size(), before);
  EXPECT_EQ(d.frames[before].pts, units[0].pts);
  EXPECT_EQ(d.frames[before].receivedAt, units[0].completedAt);
}

// Guards against streams the conversion cannot read reaching the platform decoder (shown its
// own way, or failing without a reason), and pictures of hundreds of megabytes allocated.
TEST(MFDecoder, RefusesWhatTheLinuxDecoderRefusesAndSaysWhy) {
  const struct {
    const char* stream;
    const char* refusal;
  } cases[] = {
      {"h264-64x48-yuv444p", "unsupported picture format: 4:4:4"},
      {"h264-64x48-yuv422p", "unsupported picture format: 4:2:2"},
      {"h264-8256x8192", "picture too large: 8256x8192"},
  };
  for (const auto& c : cases) {
    CodecKind codec = kCodecNone;
    RecordedDecoder d;
    for (AccessUnit& u : unitsOf(c.stream, codec)) d.decoder.decode(u, codec);
    EXPECT_TRUE(d.frames.empty()) << c.stream;
    EXPECT_EQ(d.decoder.info().refusal, c.refusal) << c.stream;
  }
}

bool hevcDecoderInstalled() {
  joinComApartment();
  return !findDecoderTransforms(kCodecHevc).found.empty();
}

// Wine has no HEVC decoder, Windows none without its extension. Guards against that failing
// silently, a failed open counted as success, and pictures from a half-opened transform.
TEST(MFDecoder, HevcWithoutADecoderFailsEveryOpenAndSaysSo) {
  if (hevcDecoderInstalled()) GTEST_SKIP() << "this machine has an HEVC decoder";
  CodecKind codec = kCodecNone;
  std::vector<AccessUnit> units = unitsOf("hevc-198x118", codec);
  ASSERT_EQ(codec, kCodecHevc);
  RecordedDecoder d;
  for (AccessUnit& u : units) EXPECT_FALSE(d.decoder.decode(u, codec));
  EXPECT_EQ(d.decoder.info().refusal, "no HEVC decoder");
  EXPECT_TRUE(d.frames.empty());
}

}  // namespace
}  // namespace mirandel
