// The clip's video path against the emulator's SRT stream on loopback.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "clip/MirandelLink.h"
#include "support/FakeLink.h"
#include "support/TestSupport.h"
#include "tools/phone/StreamSender.h"

namespace mirandel::test {
namespace {

class ClipStream : public ::testing::Test {
 protected:
  void SetUp() override {
    phone::StreamOptions options;
    options.encoder.width = 320;
    options.encoder.height = 240;
    options.encoder.fps = 30;
    options.encoder.keyInterval = 10;
    ASSERT_TRUE(sender_.start(options));
  }

  std::unique_ptr<MirandelLink> connectedClip() {
    auto clip = std::make_unique<MirandelLink>(ClipEnvironment{&link_});
    clip->SetIdentity(clip.get());
    clip->SetTextParameter(1, "127.0.0.1");
    return clip;
  }

  bool waitForPictures(MirandelLink& clip) {
    return waitFor(
        [&] {
          clip.superviseClip();
          std::uint32_t w = 0, h = 0;
          clip.frameSlot().lastSize(w, h);
          return w == 320 && h == 240;
        },
        std::chrono::seconds(10));
  }

  FakeLink link_;
  phone::StreamSender sender_;
};

// The stream starts on connection, asks the phone for its stream and a
// grain-free picture, and reports itself in the "Picture" line.
TEST_F(ClipStream, PicturesArriveAndThePictureLineDescribesThem) {
  auto clip = connectedClip();
  ASSERT_TRUE(waitForPictures(*clip));
  const std::vector<ControlMessage> grain = {{"/mirandel/stream/grain", {ControlArg::ofInt(0)}}};
  EXPECT_EQ(link_.sentTo("/mirandel/stream/grain"), grain);
  EXPECT_GE(link_.sentTo("/mirandel/stream").size(), 1u);
  // The line shows the size on screen: nothing was drawn here, so 0x0.
  const std::regex line(
      "0x0 H\\.264 [0-9]+ fps \xC2\xB7 [0-9]+\\.[0-9] ms transport \xC2\xB7 sw");
  EXPECT_TRUE(waitFor(
      [&] {
        clip->superviseClip();
        return std::regex_match(clip->pictureText(), line);
      },
      std::chrono::seconds(5)))
      << clip->pictureText();
}

// The receive thread writes into the clip's frame slot; destroying the clip
// while pictures flow must stop that thread first (ASan catches a write into
// a freed clip).
TEST_F(ClipStream, DestroyingAClipWhilePicturesFlowIsSafe) {
  for (int round = 0; round < 3; ++round) {
    auto clip = connectedClip();
    ASSERT_TRUE(waitForPictures(*clip)) << round;
    clip.reset();
  }
}

// Without an address there is no stream and the line is a dash.
TEST_F(ClipStream, NoPhoneMeansNoStream) {
  auto clip = std::make_unique<MirandelLink>(ClipEnvironment{&link_});
  clip->superviseClip();
  EXPECT_EQ(clip->pictureText(), "\xE2\x80\x94");
  EXPECT_FALSE(clip->streamStats().connected);
}

}  // namespace
}  // namespace mirandel::test
