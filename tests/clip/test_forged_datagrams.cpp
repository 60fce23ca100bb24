// A clip on a real link hub, connected to its phone on loopback, while other
// senders on the network throw forged datagrams at its port.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clip/MirandelLink.h"
#include "link/LinkHub.h"
#include "support/ForgedDatagrams.h"
#include "support/TestSupport.h"
#include "tests/clip/PhoneOnLoopback.h"

namespace mirandel::test {
namespace {

using ForgedDatagrams = PhoneOnLoopback;

// Guards against other senders reaching into a clip: forged phone messages
// must change nothing, bad datagrams must cost nothing, and made-up phones
// must not grow the device table, the inbox or the host's events beyond their
// bounds. 100,000 datagrams from eight other loopback addresses: noise,
// damaged messages, bundles, "/mirandel/here" with random identities, and
// every address a phone may use, with feedback naming the rack's controls.
// Afterwards the clip still hears its own phone.
TEST_F(ForgedDatagrams, OtherSendersChangeNothingButTheCappedDeviceTable) {
  // The host moves a slider.
  clip_.SetFloatParameter(23, 0.75f);
  clip_.superviseClip();

  const ClipView before(clip_);
  for (ParamInfo& p : clip_.Params()) p.pendingEvents.take();

  std::vector<std::string> feedback;
  for (const RackEffect& e : clip_.effects())
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
    const std::uint64_t turns = hub_.workerTurns();
    for (int k = 0; k < kBatch; ++k, ++sent) {
      const std::vector<std::uint8_t> bytes = forger.next();
      senders[sent % senders.size()].sendTo("127.0.0.1", kClipControlPort, bytes.data(),
                                            bytes.size());
    }
    // Paced by the worker, so that the socket's buffer drops little of it.
    waitFor([&] { return hub_.workerTurns() >= turns + kBatch; });
    const LinkHub::InboxLoad load = hub_.inboxLoad(clip_.subscriptionId());
    peak.messages = std::max(peak.messages, load.messages);
    peak.bytes = std::max(peak.bytes, load.bytes);
    if (sent % kPerStep == 0) {
      clip_.superviseClip();
      clock_.advance(500 * kMillisecond);  // lets the step's timers come due
    }
  }
  EXPECT_EQ(peak.messages, options_.inboxLimit);
  EXPECT_LE(peak.bytes, options_.inboxByteLimit);
  ASSERT_TRUE(waitFor([&] {
    clip_.superviseClip();
    return hub_.inboxLoad(clip_.subscriptionId()).messages == 0;
  }));

  const std::vector<DeviceRecord> devices = hub_.listDevices();
  EXPECT_EQ(devices.size(), options_.maxDevices);
  for (const DeviceRecord& d : devices) EXPECT_LE(d.routes.size(), options_.maxRoutesPerDevice);
  const ClipView after(clip_);
  expectSameView(after, before, clip_);
  EXPECT_EQ(after.grain, before.grain);
  // The host hears of new devices and of arrivals (the wake-up's Status), and
  // of nothing else.
  for (ParamInfo& p : clip_.Params()) {
    if (p.id == param::kDevice || p.id == param::kStatus || p.id == param::kPicture) continue;
    EXPECT_EQ(p.pendingEvents.take(), 0u) << p.name;
  }

  fromPhone({"/mirandel/grain/size", {F(0.9f)}});
  EXPECT_TRUE(waitFor([&] {
    clip_.superviseClip();
    return clip_.GetFloatParameter(22) == 0.9f;
  }));
}

}  // namespace
}  // namespace mirandel::test
