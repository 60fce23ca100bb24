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

struct Decoded {
  std::vector<Stamp> sent;
  std::vector<Corners> read;
};

// Encodes `count` stamped pictures, the second stamp drawn when `second`, and decodes them
// with the clip's own decoder; with `cutLast` the last unit loses its second half on the way.
Decoded encodeAndDecode(const EncoderOptions& o, int count, bool second, bool cutLast = false) {
  Decoded d;
  VideoEncoder encoder(o);
  const auto decoder = makeDecoder([&](const Frame& f) { d.read.push_back(readCorners(f)); });
  YuvPicture picture;
  for (int i = 0; i < count; ++i) {
    d.sent.push_back({static_cast<std::uint32_t>(0x80000000u + i * 7919u),
                      0x0123456789ABCDEFull + static_cast<std::uint64_t>(i) * 33333});
    renderTestPattern(d.sent.back(), o.width, o.height, picture, second);
    std::vector<EncodedPicture> coded;
    EXPECT_TRUE(encoder.encode(picture, i, false, coded));
    for (EncodedPicture& p : coded) {
      AccessUnit unit;
      unit.bytes = std::move(p.bytes);
      const bool cut = cutLast && i + 1 == count;
      if (cut) unit.bytes.resize(unit.bytes.size() / 2);
      EXPECT_TRUE(decoder->decode(unit, o.codec) || cut) << "picture " << i;
    }
  }
  return d;
}

// Guards the latency measurement's foundation: both stamps must survive a real encode at a
// modest bit rate and read back from the clip's own decoder exactly as sent (corners that
// disagreed would count an intact picture as damaged), and none be read where none is drawn.
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
    const Decoded d = encodeAndDecode(o, 12, c.second);
    ASSERT_EQ(d.read.size(), d.sent.size());
    for (std::size_t i = 0; i < d.read.size(); ++i) {
      ASSERT_TRUE(d.read[i].top.has_value()) << "picture " << i;
      EXPECT_EQ(*d.read[i].top, d.sent[i]);
      EXPECT_EQ(d.read[i].bottom, c.second ? d.read[i].top : std::nullopt) << "picture " << i;
    }
  }
  std::vector<std::uint8_t> grey(320 * 240 * 4, 128), white(320 * 240 * 4, 255);
  EXPECT_FALSE(readStamp(grey.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(white.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(grey.data(), 64 * 4, 64, 48).has_value());  // too small to carry one
}

// Guards the soak's count of damaged pictures: one decoded from a unit that lost its tail (the
// usual loss in a one-slice picture) must not pass for intact; its concealed lower part makes
// the bottom-right stamp name the picture before, or nothing.
TEST(StreamStamp, APictureDecodedFromAUnitMissingItsTailHasCornersThatDisagree) {
  EncoderOptions o;
  o.width = 640;
  o.height = 360;
  o.bitrateKbps = 1500;
  const Decoded d = encodeAndDecode(o, 2, true, /*cutLast=*/true);
  ASSERT_EQ(d.read.size(), 2u) << "the decoder must conceal the damaged picture for this test";
  ASSERT_EQ(d.read[0].top, d.sent[0]);
  ASSERT_EQ(d.read[0].bottom, d.sent[0]);
  EXPECT_EQ(d.read[1].top, d.sent[1]);
  EXPECT_NE(d.read[1].bottom, d.read[1].top);
}

}  // namespace
}  // namespace mirandel::phone
