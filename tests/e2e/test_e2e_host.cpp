// The real plug-in in the headless host against the emulated phone in a peer namespace: the
// clip connects by itself and draws the phone's live picture into the host's framebuffer.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "base/Clock.h"
#include "support/TestPlatform.h"
#include "support/TestSupport.h"
#include "tests/e2e/PhoneLab.h"
#include "tools/host/FfglHost.h"
#include "tools/host/GlContext.h"
#include "tools/host/LiveRun.h"
#include "tools/host/PluginLibrary.h"
#include "tools/phone/Stamp.h"

namespace mirandel::test {
namespace {

// The real plug-in loaded into the headless host, a GL context current, and one clip made
// with a framebuffer of its size.
struct PluginInHost {
  bool open(std::uint32_t width, std::uint32_t height,
            host::Framebuffer::Encoding encoding = host::Framebuffer::Encoding::kPlain) {
    library = host::PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error,
                                        host::PluginLibrary::Unload::kNever);
    if (!library) return false;
    host = std::make_unique<host::FfglHost>(*library);
    gl = host::GlContext::create(&error);
    if (gl) target = host::Framebuffer::create(width, height, &error, encoding);
    if (target) clip = host->instantiate({0, 0, width, height}).value_or(nullptr);
    return clip != nullptr;
  }
  // Draws until a frame shows a stamp (for which `done` holds, when given); false when none has
  // in `timeout`.
  bool drawUntil(const std::function<bool(const phone::Stamp&)>& done = {},
                 milliseconds timeout = seconds(12)) {
    return waitFor(
        [&] {
          drawn = host->drawFrame(clip, *target);
          const auto stamp = drawn.result == host::kSuccess ? stampOf(drawn.image) : std::nullopt;
          return stamp && (!done || done(*stamp));
        },
        timeout, milliseconds(5));
  }
  std::string error;
  std::unique_ptr<host::PluginLibrary> library;
  std::unique_ptr<host::FfglHost> host;
  std::unique_ptr<host::GlContext> gl;
  std::unique_ptr<host::Framebuffer> target;
  host::InstanceId clip = nullptr;
  host::DrawAnswer drawn;  // the last frame drawUntil drew
};

// In three stages on one clip, guards against:
// 1. a clip losing the phone's first answer: an address typed right after instantiation, before
//    the host has read or drawn anything, must get the rack from the phone's first reply, not
//    from the retry 3 s later;
// 2. a broken picture path through the host boundary: what the clip draws in the host's
//    framebuffer is the phone's current picture, stamp intact, it keeps moving, and the
//    Picture line names the drawn size;
// 3. real hosts' habits, all at once: a clip made before initialise, drawn at 144 Hz as a layer
//    and as a resized preview, the host's GL state left set before draws into sRGB layers (a
//    mipmapping sampler drew black, sRGB writes washed out), buttons held on every frame and
//    clicked as two calls (a held action went out every frame), and de-initialise while the
//    clip lives. Each press must send one command, no picture be damaged.
TEST_F(PhoneLab, ThePluginTakesThePhonesFirstReplyDrawsItsLivePictureAndBearsTheHabitsOfRealHosts) {
  constexpr std::uint32_t kWidth = 320, kHeight = 240;
  std::atomic<int> replies{0};
  auto options = phoneOptions();
  options.onEvent = [&](const std::string& line) {
    if (line.rfind("describe ", 0) == 0 && line.find(" whole") != std::string::npos) ++replies;
  };
  options.stream.secondStamp = true;
  startPhone(options);
  PluginInHost plugin;
  ASSERT_TRUE(plugin.open(kWidth, kHeight, host::Framebuffer::Encoding::kSrgb)) << plugin.error;
  host::FfglHost& host = *plugin.host;
  const auto clip = plugin.clip;
  ASSERT_EQ(host.initialise(), host::kSuccess);
  ASSERT_EQ(host.setText(clip, 1, kWifiPhone), host::kSuccess);
  ASSERT_TRUE(waitFor([&] { return replies > 0; }));
  // The hub raises an event when the reply has been filed; events do not run
  // the clip's step, which would open its inbox late.
  host.parameterEvents(clip, 64);
  ASSERT_TRUE(waitFor([&] { return host.pendingEventCount(clip).count > 0; }));
  EXPECT_EQ(host.getText(clip, 3).value_or("").rfind("Mirandel", 0), 0u)
      << host.getText(clip, 3).value_or("?");

  std::optional<phone::Stamp> first;
  std::uint64_t drawnAt = 0;
  ASSERT_TRUE(plugin.drawUntil([&](const phone::Stamp& stamp) {
    if (!first) {
      first = stamp;
      drawnAt = static_cast<std::uint64_t>(steadyNow() / 1000);
    }
    return stamp.frame >= first->frame + 10;
  })) << "Status: "
      << host.getText(clip, 3).value_or("?")
      << ", Picture: " << host.getText(clip, 13).value_or("?");
  // The stamp's send time is the phone's steady clock, which is ours.
  EXPECT_LE(first->sentMicros, drawnAt);
  EXPECT_LT(drawnAt - first->sentMicros, 2'000'000u);
  const std::string text = host.getText(clip, 13).value_or("");
  const auto line = parsePictureLine(text);
  ASSERT_TRUE(line) << text;
  EXPECT_EQ(std::tuple(line->width, line->height, line->codec),
            std::tuple(kWidth, kHeight, std::string("H.264")));

  constexpr std::uint32_t kSnap = 5, kFlipCamera = 6, kAction1 = 58;
  host::LiveRunOptions run{.seconds = 8, .fps = 144, .snapshots = 0, .secondStamp = true};
  run.habits = {.previewWidth = 96, .previewHeight = 72, .glLeftovers = true};
  run.habits.pressedEvents = {kSnap, kFlipCamera, kAction1};
  const host::LiveRunResult r = host::runLive(host, clip, *plugin.target, run, stdout);
  // No failed frame, no damaged picture, no frame without a stamp.
  EXPECT_EQ(std::tuple(r.framesFailed, r.picturesDamaged, r.framesUnstamped),
            std::tuple(0u, 0u, 0u));
  EXPECT_GT(r.picturesShown, 100u);
  ASSERT_EQ(r.presses, 5u);
  // Snap and Flip camera send whenever a phone is connected, and the messages of one host
  // call go out in order: the flip of the last press has arrived once the snap has.
  ASSERT_TRUE(waitFor([&] { return phone->snaps() == r.presses; }));
  EXPECT_TRUE(
      waitFor([&] { return phone->control().receivedCount("/mirandel/flip") == r.presses; }));
  // Action1 is the rack's "reset", whose presses in the moments after the rack came are
  // dropped with every other slot write.
  const std::size_t resets = phone->control().receivedCount("/mirandel/grain/reset");
  EXPECT_GE(resets, 1u);
  EXPECT_LE(resets, r.presses);

  EXPECT_EQ(host.deinitialise(), host::kSuccess);
  EXPECT_EQ(host.draw(clip, *plugin.target), host::kSuccess);
  EXPECT_EQ(host.deinstantiate(clip), host::kSuccess);
}

using ColourLab = PhoneLab;

// Guards against the phone's colour description lost on the way to the drawn picture, each
// stream drawn by BT.709: BT.601 (GStreamer senders, many phones below 720 lines) came out
// (20, 169, 59) where FFmpeg shows (31, 190, 62), HDR (10-bit HEVC, BT.2020, HLG) (73, 84, 156)
// where FFmpeg's zscale shows (51, 95, 190). FFmpeg reads the stream's own flags, joins it
// anywhere over SRT and so decodes key pictures only (one predicted from a missed one is grey).
TEST_F(ColourLab, EachSendersColourIsDrawnAsFfmpegConvertsIt) {
  constexpr std::uint32_t kWidth = 320, kHeight = 240;
  const struct {
    const char* name;
    phone::StreamColour colour;
    std::array<std::uint8_t, 3> patch;
    const char* filter;
    int tolerance;
  } cases[] = {
      {"BT.601",
       phone::StreamColour::kBt601,
       {127, 95, 67},
       "scale=flags=neighbor+accurate_rnd+full_chroma_int,format=rgb24",
       2},
      {"BT.2020 HLG",
       phone::StreamColour::kBt2020Hlg,
       {91, 161, 120},
       "zscale=m=bt709:p=bt709:t=bt709:r=pc:npl=203,format=gbrp,format=rgb24",
       6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    phone.reset();
    auto options = phoneOptions();
    options.stream.encoder.codec =
        c.colour == phone::StreamColour::kBt2020Hlg ? kCodecHevc : kCodecH264;
    options.stream.encoder.colour = c.colour;
    options.stream.encoder.bitrateKbps = 1500;
    options.stream.centrePatch = c.patch;
    options.grainAmount = 0;  // the grain the clip re-adds would move the drawn colour
    startPhone(options);
    PluginInHost plugin;
    ASSERT_TRUE(plugin.open(kWidth, kHeight)) << plugin.error;
    host::FfglHost& host = *plugin.host;
    ASSERT_TRUE(plugin.drawUntil())
        << "no picture: " << host.getText(plugin.clip, 13).value_or("?");
    const std::uint8_t* drawn = plugin.drawn.image.at(kWidth / 2, kHeight / 2);
    const std::string theirs =
        commandOutput("timeout 20 ffmpeg -nostdin -v error -skip_frame nokey -i 'srt://" +
                      std::string(kWifiPhone) + ":9010?mode=caller' -frames:v 1 -vf '" + c.filter +
                      ",crop=2:2:" + std::to_string(kWidth / 2) + ":" +
                      std::to_string(kHeight / 2) + "' -f rawvideo -");
    host.deinstantiate(plugin.clip);
    ASSERT_EQ(theirs.size(), 12u) << "FFmpeg's 2x2 RGB crop";
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(drawn[i], static_cast<std::uint8_t>(theirs[i]), c.tolerance) << "component " << i;
  }
}

// Guards against a host that quits with a clip still streaming: exit() ran the SRT library's
// teardown under the receive thread, and the process crashed. The emulator streams from a
// process of its own, so that nothing else in the exiting child uses SRT; the child exits as
// soon as a phone picture is drawn, and only then with code 0.
TEST(HostExit, ExitingWhileAClipStreamsEndsTheProcessCleanly) {
  ChildProcess phone(
      {MIRANDEL_PHONE_PROGRAM, "--stream-now", "--size", "320x240", "--bitrate", "400"});
  ASSERT_GT(phone.pid(), 0);
  EXPECT_EXIT(
      {
        PluginInHost plugin;
        if (!plugin.open(320, 240)) std::exit(2);
        if (plugin.host->setText(plugin.clip, 1, "127.0.0.1") != host::kSuccess) std::exit(3);
        std::exit(plugin.drawUntil({}, seconds(15)) ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mirandel::test
