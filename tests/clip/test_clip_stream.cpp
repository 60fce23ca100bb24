// The clip's video path against the emulator's SRT stream, a bare SRT listener
// on loopback and a name server that never answers.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "support/SilentNameServer.h"
#include "support/SrtTestPeer.h"
#include "support/TestStream.h"
#include "tests/clip/SessionFixture.h"
#include "video/DecoderCore.h"
#include "video/NameLookup.h"

namespace mirandel::test {
namespace {

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

  FakeLink link_;
};

// Guards a receive thread against the end of its clip, destroyed at each point
// of its session: use after free (ASan), races (TSan), leaks, threads left.
TEST_F(ClipStream, TwoHundredClipsMadeAndDestroyedWhileTheyStreamLeaveNothingBehind) {
  phone::StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream()));
  const int threadsBefore = processThreadCount();
  std::deque<std::unique_ptr<MirandelLink>> live;
  const std::function<bool(MirandelLink&)> stages[] = {
      [](MirandelLink&) { return true; },
      [](MirandelLink& c) { return c.streamStats().connected; },
      [](MirandelLink& c) { return c.streamStats().bytesReceived > 0; },
      [](MirandelLink& c) { return c.streamStats().hasFrames; },
  };
  for (int i = 0; i < 200; ++i) {
    live.push_back(clipAt("127.0.0.1"));
    if (live.size() < 4) continue;
    MirandelLink& oldest = *live.front();
    ASSERT_TRUE(stepUntil(oldest, [&] { return stages[i % 4](oldest); }))
        << "clip " << i - 3 << ", stage " << i % 4 << ": " << oldest.pictureText();
    live.pop_front();
  }
  live.clear();
  // The library ends a closed connection's threads a little later, on its own.
  EXPECT_TRUE(
      waitFor([&] { return processThreadCount() <= threadsBefore; }, std::chrono::seconds(10)))
      << processThreadCount() << " threads, " << threadsBefore << " before";
}

// Guards the restarts on Latency, Reconnect and address changes, each asking for
// the clip's latency (20 ms at 0, 500 ms at 1) as the listener reads it.
TEST_F(ClipStream, RestartsOnLatencyReconnectAndAddressChangesWithTheClipsLatency) {
  SrtTestListener phone(9010), phoneElsewhere(9012);
  auto clip = clipAt("127.0.0.1");
  ASSERT_TRUE(phone.accept());
  EXPECT_EQ(phone.peerLatencyMs(), 40);
  // What changes, where the clip then connects, with which latency.
  const std::tuple<const char*, std::function<void()>, SrtTestListener&, int> changes[] = {
      {"Latency 0", [&] { clip->SetFloatParameter(param::kLatency, 0.0f); }, phone, 20},
      {"Latency 1", [&] { clip->SetFloatParameter(param::kLatency, 1.0f); }, phone, 500},
      {"Reconnect", [&] { clip->SetFloatParameter(param::kReconnect, 1.0f); }, phone, 500},
      {"address", [&] { clip->SetTextParameter(param::kPhoneIp, "127.0.0.1:9012"); },
       phoneElsewhere, 500}};
  for (const auto& [what, make, at, latencyMs] : changes) {
    SCOPED_TRACE(what);
    make();
    clip->superviseClip();
    ASSERT_TRUE(at.accept(3000));
    EXPECT_EQ(at.peerLatencyMs(), latencyMs);
  }
}

// A codec library that decodes every picture into 4:4:4, which the conversion
// cannot take; or, not opening, a platform without a decoder for the codec
// (Windows without its HEVC extension, here for H.264).
class UnusableBackend final : public DecoderBackend {
 public:
  explicit UnusableBackend(bool opens) : opens_(opens) {}
  bool open(CodecKind) override { return opens_; }
  std::string openFailure() const override { return "no H.264 decoder"; }
  void close() override {}
  bool submit(const AccessUnit&, bool) override { return opens_; }
  bool drain(PictureSink& sink) override {
    if (opens_) sink.refused({"4:4:4", 320, 240});
    return false;
  }
  bool hardware() const override { return false; }

 private:
  const bool opens_;
};

// Guards against a stream that cannot be shown looking like one that never
// arrives: Picture said "connected", and the stream was asked for every 4 s.
TEST_F(ClipStream, AStreamThatCannotBeShownIsNamedAndNotAskedForAgain) {
  // Whether the decoder opens, and the Picture line then.
  const std::pair<bool, std::string> cases[] = {
      {true, "connected \xC2\xB7 unsupported picture format: 4:4:4"},
      {false, "connected \xC2\xB7 no H.264 decoder"}};
  for (const auto& [opens, picture] : cases) {
    SCOPED_TRACE(picture);
    link_.sent.clear();
    phone::StreamSender sender;
    ASSERT_TRUE(sender.start(smallStream()));
    ManualClock clock(100 * kSecond);
    const auto decoder = [&](FrameCallback onFrame) {
      return std::make_unique<DecoderCore>(std::make_unique<UnusableBackend>(opens),
                                           std::move(onFrame), steadyClock());
    };
    auto clip = clipAt("127.0.0.1", ClipEnvironment{nullptr, clock.fn(), decoder});
    // The request on the connection may go one step after the line shows the refusal.
    const auto requests = [&] { return link_.sentTo("/mirandel/stream").size(); };
    EXPECT_TRUE(stepUntil(*clip, [&] { return clip->pictureText() == picture && requests() >= 2; }))
        << clip->pictureText();
    EXPECT_EQ(requests(), 2u);  // at the start and on the connection
    for (int i = 0; i < 4; ++i) {
      clock.advance(5 * kSecond);
      clip->superviseClip();
    }
    EXPECT_EQ(requests(), 2u);
    EXPECT_EQ(clip->pictureText(), picture);
  }
}

// Guards the start on connection: the clip must ask the phone for its stream and a
// grain-free picture (the end-to-end tests read the Picture line it then shows). Then
// against a stopped stream never being asked for again: a down link is asked every
// second, a new connection at once and each second until a picture.
TEST_F(ClipStream, TheStreamIsAskedForGrainFreeAndAgainAfterItStopsUntilPicturesComeBack) {
  phone::StreamSender sender;
  ASSERT_TRUE(sender.start(smallStream()));
  ManualClock clock(100 * kSecond);
  auto clip = clipAt("127.0.0.1", ClipEnvironment{nullptr, clock.fn()});
  ASSERT_TRUE(stepUntil(*clip, [&] {
    std::uint32_t w = 0, h = 0;
    clip->frameSlot().lastSize(w, h);
    return w == 320 && h == 240;
  }));
  EXPECT_EQ(link_.sentTo("/mirandel/stream/grain"),
            (std::vector<ControlMessage>{{"/mirandel/stream/grain", {ControlArg::ofInt(0)}}}));
  const auto requests = [&] { return link_.sentTo("/mirandel/stream").size(); };
  const auto stepAfter = [&](Nanos elapsed) {
    clock.advance(elapsed);
    clip->superviseClip();
    return requests();
  };
  // With pictures flowing: a step right after a picture, long after the last request.
  const auto pictureFlowsWithoutARequest = [&] {
    const std::size_t before = requests();
    clock.advance(5 * kSecond);
    ASSERT_TRUE(waitFor([&] { return clip->streamStats().msSinceLastFrame == 0.0; }));
    EXPECT_EQ(stepAfter(0), before);
  };
  pictureFlowsWithoutARequest();
  const std::size_t showing = requests();

  sender.stop();
  // A step reads the link's state before the Picture line does, so the line may say
  // "reconnecting" one step before the request goes; the clock stands still meanwhile.
  ASSERT_TRUE(stepUntil(*clip, [&] {
    return clip->pictureText().rfind("reconnecting (", 0) == 0 && requests() > showing;
  })) << clip->pictureText();
  const std::size_t onceDown = requests();
  EXPECT_EQ(onceDown, showing + 1);  // asked at once: the last request is long past
  for (std::size_t i = 1; i <= 2; ++i) EXPECT_EQ(stepAfter(kSecond + kMillisecond), onceDown + i);

  // Listening again, but streaming only once asked.
  sender.pause(true);
  ASSERT_TRUE(sender.start(smallStream()));
  ASSERT_TRUE(stepUntil(*clip, [&] { return requests() > onceDown + 2; })) << clip->pictureText();
  const std::size_t onConnection = requests();
  EXPECT_EQ(onConnection, onceDown + 3);
  EXPECT_EQ(clip->pictureText(), "connected");
  EXPECT_EQ(stepAfter(kSecond), onConnection) << "exactly 1 s without a picture is not yet due";
  for (std::size_t i = 1; i <= 2; ++i)
    EXPECT_EQ(stepAfter(kSecond + kMillisecond), onConnection + i);
  sender.pause(false);
  ASSERT_TRUE(stepUntil(*clip, [&] { return clip->streamStats().hasFrames; }))
      << clip->pictureText();
  pictureFlowsWithoutARequest();
}

// Guards the reason on the "Picture" line, once worked out only on a state change:
// the first unusable address showed a bare dash, a second kept the first's reason.
TEST_F(ClipStream, EachUnusableAddressShowsItsOwnReason) {
  auto clip = clipAt("");
  EXPECT_EQ(clip->pictureText(), text::kDash);
  const std::pair<const char*, std::string> cases[] = {
      {"10.0.0.7:70000", std::string(text::kDash) + " port out of range (1 to 65535)"},
      {":7001", std::string(text::kDash) + " no host"},
      {"srt://", std::string(text::kDash) + " no address"}};
  for (const auto& [address, picture] : cases) {
    clip->SetTextParameter(param::kPhoneIp, address);
    clip->superviseClip();
    EXPECT_EQ(clip->pictureText(), picture) << address;
  }
}

// Guards a start that fails inside a host call (no thread to be had): it threw out
// of the host call and counted as running, so it was never tried again.
TEST_F(ClipStream, AStreamThatCannotStartSaysWhyAndIsTriedAgainOnTheNextStep) {
  std::atomic<int> starts{0};
  const auto failingOnce = [&](FrameCallback onFrame) {
    if (++starts == 1)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return makeDecoder(std::move(onFrame));
  };
  auto clip = clipAt("127.0.0.1", {.makeDecoder = failingOnce});
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(clip->pictureText().rfind(std::string(text::kDash) + " video cannot start (", 0), 0u)
      << clip->pictureText();
  clip->superviseClip();
  EXPECT_EQ(starts, 2);
  EXPECT_EQ(clip->pictureText().rfind("connecting", 0), 0u) << clip->pictureText();
}

// Guards against host calls that restart or end the stream joining a thread
// stuck in a name lookup that is never answered (5.7 s seen).
TEST_F(ClipStream, HostCallsReturnAtOnceWhileThePhonesNameCannotBeLookedUp) {
  SilentNameServer dns;
  ASSERT_EQ(dns.failure(), "");
  auto clip = clipAt(SilentNameServer::kName);
  ASSERT_TRUE(waitFor([&] { return dns.queries() > 0; }));
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"Latency", [&] { clip->SetFloatParameter(param::kLatency, 0.5f); }},
      {"Reconnect", [&] { clip->SetFloatParameter(param::kReconnect, 1.0f); }},
      {"address", [&] { clip->SetTextParameter(param::kPhoneIp, SilentNameServer::kOtherName); }},
      {"destruction", [&] { clip.reset(); }}};
  for (const auto& [what, call] : calls) {
    const auto t = std::chrono::steady_clock::now();
    call();
    if (clip) clip->superviseClip();
    EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(500)) << what;
  }
  // The lookups left behind end later without touching the clip (ASan, TSan).
  EXPECT_TRUE(waitFor([&] {
    dns.answerNoSuchName();
    return NameLookup::threadsInFlight() == 0;
  }));
}

}  // namespace
}  // namespace mirandel::test
