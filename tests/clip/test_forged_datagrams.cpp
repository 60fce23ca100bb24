// A clip on a real link hub, connected to its phone on loopback, while other
// senders on the network throw forged datagrams at its port.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "clip/MirandelLink.h"
#include "link/LinkHub.h"
#include "support/ForgedDatagrams.h"
#include "support/TestSupport.h"
#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

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

// Guards against other senders reaching into a clip: forged phone messages
// must change nothing, bad datagrams must cost nothing, and made-up phones
// must not grow the device table, the inbox or the host's events beyond their
// bounds. 100,000 datagrams from eight other loopback addresses: noise,
// damaged messages, bundles, "/mirandel/here" with random identities, and
// every address a phone may use, with feedback naming the rack's controls.
// Afterwards the clip still hears its own phone.
TEST(ForgedDatagrams, OtherSendersChangeNothingButTheCappedDeviceTable) {
  ManualClock clock(100 * kSecond);
  LinkHubOptions options;
  options.clock = clock.fn();
  options.listInterfaces = [] { return std::vector<BroadcastInterface>{}; };
  LinkHub hub(options);
  MirandelLink clip(ClipEnvironment{&hub, clock.fn()});
  clip.SetIdentity(&clip);

  // The phone announces itself, is connected to automatically and describes
  // its rack; the host moves a slider.
  UdpSocket phone = UdpSocket::open();
  ASSERT_TRUE(phone.bind(0, "127.0.0.1"));
  auto fromPhone = [&](const ControlMessage& m) {
    const auto bytes = encode(m);
    phone.sendTo("127.0.0.1", kClipControlPort, bytes.data(), bytes.size());
  };
  clip.superviseClip();  // opens the inbox
  fromPhone({"/mirandel/here", {S("Phone"), S("1.1"), S("Mirandel"), S("phone-1"), S("wifi")}});
  ASSERT_TRUE(waitFor([&] {
    clip.superviseClip();
    return !clip.devices().empty();
  }));
  clock.advance(500 * kMillisecond);
  clip.superviseClip();
  ASSERT_EQ(clip.phoneAddress(), "127.0.0.1");
  fromPhone({"/mirandel/describe", {S(kRackJson)}});
  fromPhone({"/mirandel/status", statusArgs(F(2.0f))});
  ASSERT_TRUE(waitFor([&] {
    clip.superviseClip();
    return !clip.effects().empty() && clip.fpsText() != text::kDash;
  }));
  clock.advance(2 * kSecond);  // past the window after the effect switch
  clip.SetFloatParameter(23, 0.75f);
  clip.superviseClip();

  const ClipView before(clip);
  for (ParamInfo& p : clip.Params()) p.pendingEvents.take();

  std::vector<std::string> feedback;
  for (const RackEffect& e : clip.effects())
    for (const RackControl& c : e.controls)
      feedback.push_back("/mirandel/" + e.address + "/" + c.field);
  DatagramForger forger(11, feedback);
  std::vector<UdpSocket> senders;
  for (int k = 2; k < 10; ++k) {
    senders.push_back(UdpSocket::open());
    ASSERT_TRUE(senders.back().bind(0, "127.0.0." + std::to_string(k)));
  }

  // The host steps the clip once every 10,000 datagrams, as a host that stalls
  // would: more than the inbox holds arrives between two steps.
  constexpr int kForged = 100000, kBatch = 100, kPerStep = 10000;
  LinkHub::InboxLoad peak;
  for (int sent = 0; sent < kForged;) {
    const std::uint64_t turns = hub.workerTurns();
    for (int k = 0; k < kBatch; ++k, ++sent) {
      const std::vector<std::uint8_t> bytes = forger.next();
      senders[sent % senders.size()].sendTo("127.0.0.1", kClipControlPort, bytes.data(),
                                            bytes.size());
    }
    // Paced by the worker, so that the socket's buffer drops little of it.
    waitFor([&] { return hub.workerTurns() >= turns + kBatch; });
    const LinkHub::InboxLoad load = hub.inboxLoad(clip.subscriptionId());
    peak.messages = std::max(peak.messages, load.messages);
    peak.bytes = std::max(peak.bytes, load.bytes);
    if (sent % kPerStep == 0) {
      clip.superviseClip();
      clock.advance(500 * kMillisecond);  // lets the step's timers come due
    }
  }
  EXPECT_EQ(peak.messages, options.inboxLimit);
  EXPECT_LE(peak.bytes, options.inboxByteLimit);
  ASSERT_TRUE(waitFor([&] {
    clip.superviseClip();
    return hub.inboxLoad(clip.subscriptionId()).messages == 0;
  }));

  const std::vector<DeviceRecord> devices = hub.listDevices();
  EXPECT_EQ(devices.size(), options.maxDevices);
  for (const DeviceRecord& d : devices) EXPECT_LE(d.routes.size(), options.maxRoutesPerDevice);
  const ClipView after(clip);
  EXPECT_EQ(std::tie(after.phone, after.status, after.fps, after.grain, after.currentEffect),
            std::tie(before.phone, before.status, before.fps, before.grain, before.currentEffect));
  EXPECT_TRUE(after.effects == before.effects);
  for (const auto& [id, view] : before.params) {
    SCOPED_TRACE(clip.FindParamInfo(id)->name);
    EXPECT_TRUE(after.params.at(id) == view);
  }
  // The host hears of new devices and of arrivals (the wake-up's Status), and
  // of nothing else.
  for (ParamInfo& p : clip.Params()) {
    if (p.id == param::kDevice || p.id == param::kStatus || p.id == param::kPicture) continue;
    EXPECT_EQ(p.pendingEvents.take(), 0u) << p.name;
  }

  fromPhone({"/mirandel/grain/size", {F(0.9f)}});
  EXPECT_TRUE(waitFor([&] {
    clip.superviseClip();
    return clip.GetFloatParameter(22) == 0.9f;
  }));
}

}  // namespace
}  // namespace mirandel::test
