// A clip against the emulated phone across two network namespaces, on the
// video path: the phone streams when the clip asks, the clip decodes it and
// shows the "Picture" line, notices a stall, and survives damaged packets
// without handing a broken unit to its decoder.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "clip/MirandelLink.h"
#include "tests/e2e/PhoneLab.h"

namespace mirandel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class StreamingClip : public PhoneLab {
 protected:
  void TearDown() override {
    clip.reset();
    PhoneLab::TearDown();
  }
  void connect(phone::PhoneAppOptions options) {
    startPhone(std::move(options));
    clip = std::make_unique<MirandelLink>();
    clip->SetIdentity(clip.get());
  }
  bool until(const std::function<bool()>& condition, milliseconds timeout = seconds(10)) {
    return waitFor(
        [&] {
          clip->superviseClip();
          return condition();
        },
        timeout, milliseconds(10));
  }
  std::optional<PictureLine> pictureLine() {
    text = clip->pictureText();
    return parsePictureLine(text);
  }

  std::unique_ptr<MirandelLink> clip;
  std::string text;  // the line pictureLine matched against
};

// One phone per codec; the last stream goes on through two more stages.
// 1. Guards the whole video road for both codecs: the clip's stream request
//    starts the phone's stream, pictures are decoded at the phone's frame
//    rate, and the line shows codec, rate and transport.
// 2. Guards loss recovery: dropped, corrupted and discontinuous packets cost
//    units, never a decoder error, and pictures keep coming.
// 3. Guards the stall notice: with the phone paused and the link up, the line
//    gains " · no frames" after two seconds and loses it once pictures return.
TEST_F(StreamingClip, ShowsTheLiveLineForEitherCodecSurvivesDamageAndFlagsAPause) {
  struct Case {
    CodecKind codec;
    int width, height;
    const char* name;
  };
  for (const Case c : {Case{kCodecHevc, 320, 240, "HEVC"}, Case{kCodecH264, 640, 360, "H.264"}}) {
    SCOPED_TRACE(c.name);
    clip.reset();  // the previous codec's
    phone.reset();
    auto options = phoneOptions();
    options.stream.encoder.codec = c.codec;
    options.stream.encoder.width = c.width;
    options.stream.encoder.height = c.height;
    connect(options);
    ASSERT_TRUE(until([&] {
      const auto line = pictureLine();
      return line && line->fps >= 27;
    })) << text;
    const auto line = pictureLine();
    ASSERT_TRUE(line) << text;
    // The size is the one the renderer holds; the host test checks it.
    EXPECT_EQ(line->codec, c.name);
    EXPECT_LE(line->fps, 33);
    EXPECT_LT(line->transportMs, 1000.0);
    EXPECT_FALSE(line->noFrames);
    EXPECT_EQ(phone->streamStarts(), 1);
    EXPECT_EQ(phone->control().receivedCount("/mirandel/stream/grain"), 1u);
    EXPECT_FLOAT_EQ(clip->grainAmount(), 0.08f);
  }

  std::uint64_t injectedAt = 0;
  for (phone::PacketFault fault :
       {phone::PacketFault::Drop, phone::PacketFault::Corrupt, phone::PacketFault::TransportError,
        phone::PacketFault::ContinuityJump}) {
    const std::uint64_t before = phone->stream().stats().faultsInjected;
    phone->stream().injectFault(fault, 3);
    ASSERT_TRUE(until([&] { return phone->stream().stats().faultsInjected >= before + 3; }));
    // Let a key picture heal the damage before the next fault.
    const std::uint64_t frames = clip->streamStats().decoderInfo.framesOut;
    ASSERT_TRUE(until([&] { return clip->streamStats().decoderInfo.framesOut > frames + 20; }));
    injectedAt = clip->streamStats().decoderInfo.framesOut;
  }
  EXPECT_GT(clip->streamStats().droppedUnits, 0u);
  ASSERT_TRUE(until([&] { return clip->streamStats().decoderInfo.framesOut > injectedAt + 15; }));
  EXPECT_EQ(clip->streamStats().decoderInfo.errors, 0u);

  phone->stream().pause(true);
  ASSERT_TRUE(until(
      [&] {
        const auto line = pictureLine();
        return line && line->noFrames;
      },
      seconds(6)))
      << text;
  phone->stream().pause(false);
  ASSERT_TRUE(until([&] {
    const auto line = pictureLine();
    return line && !line->noFrames;
  })) << text;
}

}  // namespace
}  // namespace mirandel::test
