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
  bool operator==(const Corners&) const = default;
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
  // (codec, width, height, kb/s, the second stamp drawn)
  const std::tuple<CodecKind, int, int, int, bool> cases[] = {{kCodecH264, 320, 240, 300, true},
                                                              {kCodecH264, 1280, 720, 1500, false},
                                                              {kCodecH264, 640, 360, 1500, true},
                                                              {kCodecHevc, 320, 240, 300, true}};
  for (const auto& [codec, width, height, kbps, second] : cases) {
    SCOPED_TRACE(width);
    const Decoded d = encodeAndDecode(
        {.codec = codec, .width = width, .height = height, .bitrateKbps = kbps, .keyInterval = 10},
        12, second);
    std::vector<Corners> drawn;
    for (const Stamp& s : d.sent) drawn.push_back({s, second ? std::optional(s) : std::nullopt});
    EXPECT_EQ(d.read, drawn);
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
  const EncoderOptions o{.width = 640, .height = 360, .bitrateKbps = 1500};
  const Decoded d = encodeAndDecode(o, 2, true, /*cutLast=*/true);
  ASSERT_EQ(d.read.size(), 2u) << "the decoder must conceal the damaged picture for this test";
  ASSERT_EQ(d.read[0], (Corners{d.sent[0], d.sent[0]}));
  EXPECT_EQ(d.read[1].top, d.sent[1]);
  EXPECT_NE(d.read[1].bottom, d.read[1].top);
}

}  // namespace
}  // namespace mirandel::phone
