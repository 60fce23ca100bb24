#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tools/phone/Stamp.h"
#include "tools/phone/TestPattern.h"
#include "tools/phone/VideoEncoder.h"
#include "video/Decoder.h"

namespace mirandel::phone {
namespace {

// The stamps of a decoded picture, top-left and bottom-right.
struct Corners {
  std::optional<Stamp> top, bottom;
};

Corners readCorners(const Frame& f) {
  const int w = static_cast<int>(f.width), h = static_cast<int>(f.height);
  return {readStamp(f.data, f.stride, w, h, StampCorner::kTopLeft),
          readStamp(f.data, f.stride, w, h, StampCorner::kBottomRight)};
}

// Guards the latency measurement's foundation: a stamp drawn into the pattern must survive a
// real encode at a modest bit rate and read back, from the pictures the clip's own decoder
// delivers, as exactly the frame number and time sent, and so must the second stamp where it
// is drawn (an intact picture whose corners disagreed would be counted as damaged). Guards too
// against the reader inventing a stamp from a picture that carries none.
TEST(StreamStamp, SurvivesEncodingAndDecodesExactlyAndIsNeverInvented) {
  struct Case {
    CodecKind codec;
    int width, height, kbps;
    bool second;
  };
  for (const Case& c :
       {Case{kCodecH264, 320, 240, 300, true}, Case{kCodecH264, 1280, 720, 1500, false},
        Case{kCodecH264, 640, 360, 1500, true}, Case{kCodecHevc, 320, 240, 300, true}}) {
    SCOPED_TRACE(c.width);
    EncoderOptions o;
    o.codec = c.codec;
    o.width = c.width;
    o.height = c.height;
    o.bitrateKbps = c.kbps;
    o.keyInterval = 10;
    VideoEncoder encoder(o);
    std::vector<Corners> read;
    const auto decoder = makeDecoder([&](const Frame& f) { read.push_back(readCorners(f)); });
    std::vector<Stamp> sent;
    YuvPicture picture;
    for (int i = 0; i < 12; ++i) {
      sent.push_back({static_cast<std::uint32_t>(0x80000000u + i * 7919u),
                      0x0123456789ABCDEFull + static_cast<std::uint64_t>(i) * 33333});
      renderTestPattern(sent.back(), o.width, o.height, picture, c.second);
      std::vector<EncodedPicture> coded;
      ASSERT_TRUE(encoder.encode(picture, i, false, coded));
      for (EncodedPicture& p : coded) {
        AccessUnit unit;
        unit.bytes = std::move(p.bytes);
        ASSERT_TRUE(decoder->decode(unit, c.codec));
      }
    }
    ASSERT_EQ(read.size(), sent.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
      ASSERT_TRUE(read[i].top.has_value()) << "picture " << i;
      EXPECT_EQ(*read[i].top, sent[i]);
      EXPECT_EQ(read[i].bottom, c.second ? read[i].top : std::nullopt) << "picture " << i;
    }
  }
  std::vector<std::uint8_t> grey(320 * 240 * 4, 128), white(320 * 240 * 4, 255);
  EXPECT_FALSE(readStamp(grey.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(white.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(grey.data(), 64 * 4, 64, 48).has_value());  // too small to carry one
}

// Guards the soak's count of damaged pictures: a picture decoded from a unit that lost its
// tail, the usual shape of loss in a one-slice picture, must not pass for intact. Its lower
// part is concealed from the picture before, so the bottom-right stamp names that picture or
// reads as nothing, while the top-left one still names the damaged picture.
TEST(StreamStamp, APictureDecodedFromAUnitMissingItsTailHasCornersThatDisagree) {
  EncoderOptions o;
  o.width = 640;
  o.height = 360;
  o.bitrateKbps = 1500;
  VideoEncoder encoder(o);
  std::vector<Corners> read;
  const auto decoder = makeDecoder([&](const Frame& f) { read.push_back(readCorners(f)); });
  YuvPicture picture;
  std::vector<Stamp> sent;
  for (int i = 0; i < 2; ++i) {
    sent.push_back({static_cast<std::uint32_t>(100 + i), 5000000ull + i * 33333ull});
    renderTestPattern(sent.back(), o.width, o.height, picture, true);
    std::vector<EncodedPicture> coded;
    ASSERT_TRUE(encoder.encode(picture, i, false, coded));
    ASSERT_EQ(coded.size(), 1u);
    AccessUnit unit;
    unit.bytes = std::move(coded[0].bytes);
    if (i == 1) unit.bytes.resize(unit.bytes.size() / 2);  // the second half never arrived
    decoder->decode(unit, kCodecH264);
  }
  ASSERT_EQ(read.size(), 2u) << "the decoder must conceal the damaged picture for this test";
  ASSERT_EQ(read[0].top, sent[0]);
  ASSERT_EQ(read[0].bottom, sent[0]);
  EXPECT_EQ(read[1].top, sent[1]);
  EXPECT_NE(read[1].bottom, read[1].top);
}

}  // namespace
}  // namespace mirandel::phone
