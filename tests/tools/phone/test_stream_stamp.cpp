#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tools/phone/Stamp.h"
#include "tools/phone/TestPattern.h"
#include "tools/phone/VideoEncoder.h"
#include "video/Decoder.h"

namespace mirandel::phone {
namespace {

// Guards the latency measurement's foundation: a stamp drawn into the pattern must survive a
// real encode at a modest bit rate and read back, from the pictures the clip's own decoder
// delivers, as exactly the frame number and time sent. Guards too against the reader inventing
// a stamp from a picture that carries none.
TEST(StreamStamp, SurvivesEncodingAndDecodesExactlyAndIsNeverInvented) {
  struct Case {
    CodecKind codec;
    int width, height, kbps;
  };
  for (const Case& c : {Case{kCodecH264, 320, 240, 300}, Case{kCodecH264, 1280, 720, 1500},
                        Case{kCodecHevc, 320, 240, 300}}) {
    SCOPED_TRACE(c.width);
    EncoderOptions o;
    o.codec = c.codec;
    o.width = c.width;
    o.height = c.height;
    o.bitrateKbps = c.kbps;
    o.keyInterval = 10;
    VideoEncoder encoder(o);
    std::vector<std::optional<Stamp>> read;
    const auto decoder = makeDecoder([&](const Frame& f) {
      read.push_back(
          readStamp(f.data, f.stride, static_cast<int>(f.width), static_cast<int>(f.height)));
    });
    std::vector<Stamp> sent;
    YuvPicture picture;
    for (int i = 0; i < 12; ++i) {
      sent.push_back({static_cast<std::uint32_t>(0x80000000u + i * 7919u),
                      0x0123456789ABCDEFull + static_cast<std::uint64_t>(i) * 33333});
      renderTestPattern(sent.back(), o.width, o.height, picture);
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
      ASSERT_TRUE(read[i].has_value()) << "picture " << i;
      EXPECT_EQ(*read[i], sent[i]);
    }
  }
  std::vector<std::uint8_t> grey(320 * 240 * 4, 128), white(320 * 240 * 4, 255);
  EXPECT_FALSE(readStamp(grey.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(white.data(), 320 * 4, 320, 240).has_value());
  EXPECT_FALSE(readStamp(grey.data(), 64 * 4, 64, 48).has_value());  // too small to carry one
}

}  // namespace
}  // namespace mirandel::phone
