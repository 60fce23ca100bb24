// A clip against the emulated phone with the fault relay on the SRT path (on the phone's stream
// port, passing on to its listener on 9011), drawn into a real GL framebuffer: what the host
// shows must be the phone's pictures, whole, or the last whole one.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "clip/ClipParams.h"
#include "clip/MirandelLink.h"
#include "plugin/GLLoader.h"
#include "support/SrtTestPeer.h"
#include "tests/e2e/PhoneLab.h"
#include "tools/host/Framebuffer.h"
#include "tools/host/GlContext.h"
#include "tools/phone/TestPattern.h"
#include "tools/relay/Relay.h"
#include "video/DecoderCore.h"
#include "video/LavcDecoder.h"
#include "video/Yuv420ToBgra.h"

namespace mirandel::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kWidth = 320, kHeight = 240;  // phoneOptions()' stream
constexpr int kPhoneSrtPort = 9011;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The worst mean difference (per colour component) over the 16x16 blocks of a picture drawn
// at its own size and the phone's picture for `stamp`. Coding costs a few levels; a block
// decoded from the wrong reference (the pattern's sweeping white block out of place) costs tens.
int worstBlockError(const host::RgbaImage& drawn, const phone::Stamp& stamp) {
  phone::YuvPicture expected;
  const std::uint32_t w = drawn.width;
  phone::renderTestPattern(stamp, static_cast<int>(w), static_cast<int>(drawn.height), expected);
  int worst = 0;
  for (std::uint32_t by = 0; by + 16 <= drawn.height; by += 16) {
    for (std::uint32_t bx = 0; bx + 16 <= w; bx += 16) {
      int sum = 0;
      for (std::uint32_t y = by; y < by + 16; ++y) {
        for (std::uint32_t x = bx; x < bx + 16; ++x) {
          const std::size_t c = (y / 2) * (w / 2) + x / 2;
          std::uint8_t bgra[4];
          yuvToBgraPixel(expected.y[y * w + x], expected.u[c], expected.v[c], bgra);
          const std::uint8_t* p = drawn.at(x, y);
          sum += std::abs(p[0] - bgra[2]) + std::abs(p[1] - bgra[1]) + std::abs(p[2] - bgra[0]);
        }
      }
      worst = std::max(worst, sum / (3 * 256));
    }
  }
  return worst;
}

// Every unit the clip's codec library is given, checked against what the phone sent.
struct UnitChecks {
  std::mutex mutex;
  // All guarded by mutex.
  unsigned decoded = 0;
  unsigned damaged = 0;       // bytes the phone never sent under that PTS
  unsigned brokenChain = 0;   // a non-key picture whose predecessor was lost
  unsigned resumed = 0;       // key pictures decoded after a gap
  std::int64_t lastPts = -1;  // -1 after the library's decoder is closed
};

// The platform's codec library behind those checks, under the platform's decoder core.
struct CheckedBackend : DecoderBackend {
  CheckedBackend(std::unique_ptr<DecoderBackend> inner, const phone::StreamSender& sender,
                 UnitChecks& checks)
      : inner(std::move(inner)), sender(sender), checks(checks) {}

  bool open(CodecKind codec) override { return inner->open(codec); }
  std::string openFailure() const override { return inner->openFailure(); }
  // The codec library is called with the checks' lock released: it decodes for milliseconds.
  void close() override {
    {
      std::lock_guard lock(checks.mutex);
      checks.lastPts = -1;
    }
    inner->close();
  }
  bool submit(const AccessUnit& unit, bool key) override {
    const auto sent = sender.sentPicture(unit.pts);
    const bool intact =
        sent && sent->digest == phone::pictureDigest(unit.bytes.data(), unit.bytes.size());
    {
      std::lock_guard lock(checks.mutex);
      ++checks.decoded;
      const bool follows = sent && sent->previousPts == checks.lastPts;
      if (!intact) {
        ++checks.damaged;
      } else if (!sent->key && !follows) {
        ++checks.brokenChain;
      } else if (!follows && checks.lastPts >= 0) {
        ++checks.resumed;
      }
      checks.lastPts = unit.pts;
    }
    return inner->submit(unit, key);
  }
  bool drain(PictureSink& sink) override { return inner->drain(sink); }
  bool hardware() const override { return inner->hardware(); }

  std::unique_ptr<DecoderBackend> inner;
  const phone::StreamSender& sender;
  UnitChecks& checks;
};

// What the host has shown so far, judged frame by frame.
struct ShownPictures {
  unsigned pictures = 0;    // distinct stamped pictures
  int worstBlockError = 0;  // over the pictures that passed
  std::uint64_t lastSentMicros = 0;
  double longestCallMs = 0;  // the longest host call made
};

class ClipThroughRelay : public PhoneLab {
 protected:
  void SetUp() override {
    PhoneLab::SetUp();
    std::string error;
    gl_ = host::GlContext::create(&error);
    ASSERT_NE(gl_, nullptr) << error;
    ASSERT_TRUE(loadGLEntryPoints());
    frame_ = host::Framebuffer::create(kWidth, kHeight, &error);
    ASSERT_NE(frame_, nullptr) << error;
  }
  // The rest goes in reverse order of the members: the clip, the phone's process, the relay.
  void TearDown() override {
    if (clip_) clip_->DeInitGL();
  }

  void startRelay(const relay::FaultSettings& faults) {
    bool started = false;
    std::string error;
    lab.runInPeer([&] {
      started = relay_.start({{kWifiPhone, 9010}, {"127.0.0.1", kPhoneSrtPort}, faults}, &error);
    });
    relayStarted_ = Clock::now();
    ASSERT_TRUE(started) << error;
  }
  static phone::PhoneAppOptions streamingPhone() {
    auto o = phoneOptions();
    o.stream.port = kPhoneSrtPort;
    o.grainAmount = 0;  // no grain drawn over the picture that is compared
    return o;
  }
  // The phone emulator's CLI as a process of the peer namespace, with the same stream.
  void startPhoneProcess() {
    lab.runInPeer([&] {
      phoneProcess_ = std::make_unique<ChildProcess>(std::vector<std::string>{
          binaryPath("tools/phone/mirandel-phone"), "--identity", "ada-1", "--size", "320x240",
          "--bitrate", "400", "--grain", "0", "--srt-port", std::to_string(kPhoneSrtPort)});
    });
    ASSERT_GT(phoneProcess_->pid(), 0);
  }
  // A clip on the process's link hub; with `sender`, every unit its codec library is given is
  // checked.
  void makeClip(const phone::StreamSender* sender) {
    ClipEnvironment env;
    if (sender) {
      env.makeDecoder = [this, sender](FrameCallback onFrame) -> std::unique_ptr<Decoder> {
        return std::make_unique<DecoderCore>(
            std::make_unique<CheckedBackend>(makeLavcBackend(), *sender, units_),
            std::move(onFrame), steadyClock());
      };
    }
    clip_ = std::make_unique<MirandelLink>(env);
    clip_->SetIdentity(clip_.get());
    const FFGLViewportStruct viewport{0, 0, kWidth, kHeight};
    ASSERT_EQ(clip_->InitGL(&viewport), FF_SUCCESS);
  }

  // One host frame: the host's calls, timed, then the drawn picture read back and judged.
  void hostFrame() {
    frame_->clear(0, 0, 0, 0);
    const auto called = Clock::now();
    EXPECT_EQ(clip_->ProcessOpenGL(nullptr), FF_SUCCESS);
    picture_ = clip_->GetTextParameter(param::kPicture);
    clip_->GetTextParameter(param::kStatus);
    shown_.longestCallMs = std::max(shown_.longestCallMs, msSince(called));

    const host::RgbaImage drawn = frame_->read();
    if (drawn.pixels[3] == 0) return;  // nothing drawn yet
    const auto stamp = stampOf(drawn);
    if (stamp && stamp->sentMicros == shown_.lastSentMicros) return;  // still the same picture
    const int error = stamp ? worstBlockError(drawn, *stamp) : 255;
    // A picture with no readable stamp, an older stamp, or blocks out of place fails the test.
    if (!stamp || stamp->sentMicros < shown_.lastSentMicros || error > kDamagedBlockError) {
      ADD_FAILURE() << "damaged picture shown: "
                    << (stamp ? "frame " + std::to_string(stamp->frame) + ", block error " +
                                    std::to_string(error)
                              : std::string("no stamp"));
      return;
    }
    ++shown_.pictures;
    shown_.worstBlockError = std::max(shown_.worstBlockError, error);
    shown_.lastSentMicros = stamp->sentMicros;
  }
  // Draws as a host does while waiting for `condition`.
  bool until(const std::function<bool()>& condition, milliseconds timeout) {
    return waitFor(
        [&] {
          hostFrame();
          return condition();
        },
        timeout, milliseconds(5));
  }
  bool showing(unsigned pictures, milliseconds timeout = seconds(10)) {
    return until([&] { return shown_.pictures >= pictures; }, timeout);
  }

  static constexpr int kDamagedBlockError = 24;

  std::unique_ptr<host::GlContext> gl_;  // first: destroyed after the clip's GL objects
  std::unique_ptr<host::Framebuffer> frame_;
  relay::Relay relay_;
  Clock::time_point relayStarted_;
  std::unique_ptr<ChildProcess> phoneProcess_;
  UnitChecks units_;
  std::unique_ptr<MirandelLink> clip_;
  std::string picture_;  // the "Picture" text at the last host frame
  ShownPictures shown_;
};

// Guards against damage reaching the screen on a Wi-Fi path lossier than the clip's 40 ms
// latency lets SRT repair (losses of 16 packets, unseen by the stream's counters, once let a
// unit missing data or its reference through): every unit decoded must be what the phone sent
// and follow its predecessor or be a key picture, every picture drawn whole, decoding go on.
TEST_F(ClipThroughRelay, LossAndJitterNeverPutADamagedPictureOnScreen) {
  startRelay({.lossPercent = 5, .burstPercent = 1, .burstLength = 10, .jitterMs = 50, .seed = 11});
  startPhone(streamingPhone());
  makeClip(&phone->stream());
  ASSERT_TRUE(showing(1)) << picture_;
  const auto start = Clock::now();
  until([&] { return msSince(start) > 8000; }, seconds(10));
  const unsigned drawn = shown_.pictures;
  EXPECT_TRUE(until([&] { return shown_.pictures > drawn; }, seconds(5)))
      << "decoding did not go on";

  const StreamStats stats = clip_->streamStats();
  std::lock_guard lock(units_.mutex);
  const relay::RelayReport relayed = relay_.report();
  std::printf(
      "shown %u pictures (worst block error %d) of %u units, %llu dropped; relay dropped %llu of "
      "%llu stream packets; longest host call %.1f ms\n",
      shown_.pictures, shown_.worstBlockError, units_.decoded,
      static_cast<unsigned long long>(stats.droppedUnits),
      static_cast<unsigned long long>(relayed.back.dropped),
      static_cast<unsigned long long>(relayed.back.in), shown_.longestCallMs);
  EXPECT_EQ(std::tuple(units_.damaged, units_.brokenChain), std::tuple(0u, 0u));
  EXPECT_GT(stats.droppedUnits, 0u) << "the faults never cost a unit";
  EXPECT_GT(units_.resumed, 0u);
  EXPECT_GT(shown_.pictures, 30u);
}

// Guards the return of a phone whose stream process died and was started again: the clip says
// it is reconnecting, and the picture is back within 2 s of the restart.
TEST_F(ClipThroughRelay, APhoneProcessKilledAndStartedAgainIsShownAgainWithinTwoSeconds) {
  startRelay({});
  startPhoneProcess();
  makeClip(nullptr);
  ASSERT_TRUE(showing(10)) << picture_;
  phoneProcess_->kill(SIGKILL);
  const auto killed = Clock::now();
  ASSERT_TRUE(until([&] { return picture_.rfind("reconnecting (", 0) == 0; }, seconds(10)))
      << picture_;
  const double noticedMs = msSince(killed);
  const unsigned before = shown_.pictures;
  startPhoneProcess();
  const auto restarted = Clock::now();
  ASSERT_TRUE(until([&] { return shown_.pictures > before; }, seconds(10))) << picture_;
  const double backMs = msSince(restarted);
  std::printf("loss noticed %.0f ms after the kill; picture back %.0f ms after the restart\n",
              noticedMs, backMs);
  EXPECT_LT(backMs, 2000.0);
}

// Guards the phone that vanishes for 10 s (the relay passes nothing either way) and returns:
// the clip shows its last picture and says it is reconnecting, gets the picture back on its
// own, and no host call waits on the network meanwhile.
TEST_F(ClipThroughRelay, APhoneGoneForTenSecondsComesBackWithoutHoldingUpTheHost) {
  const relay::FaultSettings faults{.blackoutAtSeconds = 5, .blackoutForSeconds = 10};
  startRelay(faults);
  startPhone(streamingPhone());
  makeClip(&phone->stream());
  // On a loaded machine the first picture may come late; one before the blackout is enough.
  ASSERT_TRUE(showing(1, seconds(5))) << "no picture before the blackout: " << picture_;
  ASSERT_TRUE(until([&] { return relay_.report().back.blackedOut > 0; }, seconds(6)));
  shown_.longestCallMs = 0;
  ASSERT_TRUE(until([&] { return picture_.rfind("reconnecting (", 0) == 0; }, seconds(10)))
      << picture_;
  const unsigned before = shown_.pictures;
  ASSERT_TRUE(until([&] { return shown_.pictures > before; }, seconds(12))) << picture_;
  const double backMs =
      msSince(relayStarted_) - 1000.0 * (faults.blackoutAtSeconds + faults.blackoutForSeconds);
  std::printf("picture back %.0f ms after the blackout; longest host call during it %.1f ms\n",
              backMs, shown_.longestCallMs);
  EXPECT_LT(shown_.longestCallMs, 500.0) << "a host call was held up";  // a hang guard
  EXPECT_EQ(units_.damaged + units_.brokenChain, 0u);
}

}  // namespace
}  // namespace mirandel::test
