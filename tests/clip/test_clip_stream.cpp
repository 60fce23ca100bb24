// The clip's video path: the stream step against the emulator's SRT stream and a bare SRT
// listener on loopback, and against a name server that never answers.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "clip/ClipParams.h"
#include "clip/MirandelLink.h"
#include "support/FakeLink.h"
#include "support/SilentNameServer.h"
#include "support/SrtTestPeer.h"
#include "support/TestStream.h"
#include "support/TestSupport.h"
#include "video/NameLookup.h"

namespace mirandel::test {
namespace {

using std::chrono::milliseconds;

class ClipStream : public ::testing::Test {
 protected:
  std::unique_ptr<MirandelLink> clipAt(const std::string& address, ClipEnvironment env = {}) {
    env.link = &link_;
    auto clip = std::make_unique<MirandelLink>(std::move(env));
    clip->SetIdentity(clip.get());
    clip->SetTextParameter(param::kPhoneIp, address.c_str());
    clip->superviseClip();
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
};

// The stream starts on connection, asks the phone for its stream and a
// grain-free picture, and reports itself in the "Picture" line.
TEST_F(ClipStream, PicturesArriveAndThePictureLineDescribesThem) {
  phone::StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream()));
  auto clip = clipAt("127.0.0.1");
  ASSERT_TRUE(waitForPictures(*clip));
  const std::vector<ControlMessage> grain = {{"/mirandel/stream/grain", {ControlArg::ofInt(0)}}};
  EXPECT_EQ(link_.sentTo("/mirandel/stream/grain"), grain);
  EXPECT_GE(link_.sentTo("/mirandel/stream").size(), 1u);
  // The line shows the size on screen: nothing was drawn here, so 0x0.
  const std::regex line("0x0 H\\.264 [0-9]+ fps \xC2\xB7 [0-9]+\\.[0-9] ms transport \xC2\xB7 sw");
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
  phone::StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream()));
  for (int round = 0; round < 3; ++round) {
    auto clip = clipAt("127.0.0.1");
    ASSERT_TRUE(waitForPictures(*clip)) << round;
    clip.reset();
  }
}

// Guards the restart conditions of the stream step and the latency option: a Latency change,
// a Reconnect and an address change must each make a new connection, and the caller must ask
// for the clip's latency (20 ms at 0, 500 ms at 1), as the listener reads it off the socket.
TEST_F(ClipStream, RestartsOnLatencyReconnectAndAddressChangesWithTheClipsLatency) {
  SrtTestListener phone(9010), phoneElsewhere(9012);
  auto clip = clipAt("127.0.0.1");
  ASSERT_TRUE(phone.accept());
  EXPECT_EQ(phone.peerLatencyMs(), 40);
  struct Change {
    const char* what;
    std::function<void(MirandelLink&)> make;
    SrtTestListener& at;
    int latencyMs;
  };
  const Change changes[] = {
      {"Latency 0", [](MirandelLink& c) { c.SetFloatParameter(param::kLatency, 0.0f); }, phone, 20},
      {"Latency 1", [](MirandelLink& c) { c.SetFloatParameter(param::kLatency, 1.0f); }, phone,
       500},
      {"Reconnect", [](MirandelLink& c) { c.SetFloatParameter(param::kReconnect, 1.0f); }, phone,
       500},
      {"address", [](MirandelLink& c) { c.SetTextParameter(param::kPhoneIp, "127.0.0.1:9012"); },
       phoneElsewhere, 500},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    c.make(*clip);
    clip->superviseClip();
    ASSERT_TRUE(c.at.accept(3000));
    EXPECT_EQ(c.at.peerLatencyMs(), c.latencyMs);
  }
}

// Guards against a host call waiting on the network: with the phone's address a name that the
// name server never answers, every host call that restarted or ended the stream joined a
// receive thread stuck in the lookup (5.7 s seen). Each must return at once.
TEST_F(ClipStream, HostCallsReturnAtOnceWhileThePhonesNameCannotBeLookedUp) {
  SilentNameServer dns;
  ASSERT_EQ(dns.failure(), "");
  auto clip = clipAt(SilentNameServer::kName);
  ASSERT_TRUE(waitFor([&] { return dns.queries() > 0; }));
  const struct {
    const char* what;
    std::function<void()> call;
  } calls[] = {
      {"Latency", [&] { clip->SetFloatParameter(param::kLatency, 0.5f); }},
      {"Reconnect", [&] { clip->SetFloatParameter(param::kReconnect, 1.0f); }},
      {"address", [&] { clip->SetTextParameter(param::kPhoneIp, SilentNameServer::kOtherName); }},
      {"destruction", [&] { clip.reset(); }},
  };
  for (const auto& c : calls) {
    const auto t = std::chrono::steady_clock::now();
    c.call();
    if (clip) clip->superviseClip();
    EXPECT_LT(std::chrono::steady_clock::now() - t, milliseconds(500)) << c.what;
  }
  // The lookups left behind end later without touching the clip (ASan).
  EXPECT_TRUE(waitFor([&] {
    dns.answerNoSuchName();
    return NameLookup::threadsInFlight() == 0;
  }));
}

}  // namespace
}  // namespace mirandel::test
