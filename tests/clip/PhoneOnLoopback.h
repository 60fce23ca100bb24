#pragma once
// A clip on a real link hub, connected to its phone: a socket on loopback
// that announced itself, was connected to automatically and described
// kRackJson. What the host and the user see of the clip can be captured and
// compared.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "clip/MirandelLink.h"
#include "link/ControlCodec.h"
#include "link/LinkHub.h"
#include "support/TestSupport.h"
#include "tests/clip/SessionFixture.h"

namespace mirandel::test {

// What the host and the user see of a clip, and what it holds of its phone.
struct ClipView {
  struct Param {
    std::string displayName;
    bool visible = false;
    std::vector<std::string> elements;
    float value = 0.0f;
    std::string text;
    friend bool operator==(const Param&, const Param&) = default;
  };
  std::string phone, status, fps;
  float grain = 0.0f;
  std::int32_t currentEffect = -1;
  std::vector<RackEffect> effects;
  std::map<std::uint32_t, Param> params;

  // Everything but "Device", which shows the device table, and "Picture",
  // which follows a video stream that has no phone to reach here.
  explicit ClipView(MirandelLink& clip)
      : phone(clip.phoneAddress()),
        status(clip.statusText()),
        fps(clip.fpsText()),
        grain(clip.grainAmount()),
        currentEffect(clip.currentEffect()),
        effects(clip.effects()) {
    for (const ParamInfo& p : clip.Params()) {
      if (p.id == param::kDevice || p.id == param::kPicture) continue;
      Param& view = params[p.id];
      view.displayName = p.displayName;
      view.visible = p.visible;
      for (const ParamElement& e : p.elements) view.elements.push_back(e.name);
      view.value = clip.GetFloatParameter(p.id);
      if (const char* t = isTextType(p.type) ? clip.GetTextParameter(p.id) : nullptr) view.text = t;
    }
  }
};

// Compares two views parameter by parameter, naming each that differs. The
// grain amount is left out: takeUpAll() below uses it as its marker.
inline void expectSameView(const ClipView& after, const ClipView& before, MirandelLink& clip) {
  EXPECT_EQ(std::tie(after.phone, after.status, after.fps, after.currentEffect),
            std::tie(before.phone, before.status, before.fps, before.currentEffect));
  EXPECT_TRUE(after.effects == before.effects);
  for (const auto& [id, view] : before.params) {
    SCOPED_TRACE(clip.FindParamInfo(id)->name);
    EXPECT_TRUE(after.params.at(id) == view);
  }
}

class PhoneOnLoopback : public ::testing::Test {
 protected:
  static LinkHubOptions hubOptions(ManualClock& clock) {
    LinkHubOptions options;
    options.clock = clock.fn();
    options.listInterfaces = [] { return std::vector<BroadcastInterface>{}; };
    return options;
  }

  PhoneOnLoopback()
      : options_(hubOptions(clock_)), hub_(options_), clip_(ClipEnvironment{&hub_, clock_.fn()}) {
    clip_.SetIdentity(&clip_);
  }

  void SetUp() override {
    ASSERT_TRUE(phone_.bind(0, "127.0.0.1"));
    clip_.superviseClip();  // opens the inbox
    fromPhone({"/mirandel/here", {S("Phone"), S("1.1"), S("Mirandel"), S("phone-1"), S("wifi")}});
    ASSERT_TRUE(waitFor([&] {
      clip_.superviseClip();
      return !clip_.devices().empty();
    }));
    clock_.advance(500 * kMillisecond);
    clip_.superviseClip();
    ASSERT_EQ(clip_.phoneAddress(), "127.0.0.1");
    fromPhone({"/mirandel/describe", {S(kRackJson)}});
    fromPhone({"/mirandel/status", statusArgs(F(2.0f))});
    ASSERT_TRUE(waitFor([&] {
      clip_.superviseClip();
      return !clip_.effects().empty() && clip_.fpsText() != text::kDash;
    }));
    clock_.advance(2 * kSecond);  // past the window after the effect switch
  }

  // One datagram from the phone, once the worker has taken the one before:
  // a burst faster than that would overflow the socket's buffer.
  void fromPhone(const ControlMessage& m) {
    const std::uint64_t turns = hub_.workerTurns();
    const auto bytes = encode(m);
    ASSERT_TRUE(phone_.sendTo("127.0.0.1", kClipControlPort, bytes.data(), bytes.size()));
    ASSERT_TRUE(waitFor([&] { return hub_.workerTurns() > turns; }));
  }

  // Steps the clip until it has taken up everything the phone sent so far:
  // a marker sent last reaches it once all before it did.
  void takeUpAll(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const float marker = static_cast<float>(++markers_);
    fromPhone({"/mirandel/stream/grain/add", {F(marker)}});
    ASSERT_TRUE(waitFor(
        [&] {
          clip_.superviseClip();
          return clip_.grainAmount() == marker;
        },
        timeout));
  }

  ManualClock clock_{100 * kSecond};
  LinkHubOptions options_;
  LinkHub hub_;
  MirandelLink clip_;
  UdpSocket phone_ = UdpSocket::open();
  int markers_ = 0;
};

}  // namespace mirandel::test
