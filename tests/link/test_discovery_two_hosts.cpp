// Discovery across two network namespaces: the phone emulator lives in a peer
// namespace joined to ours by two veth pairs, a link-local one (no link text,
// so Wired by address) and one whose replies say "wifi". Probes are real
// broadcasts; nothing leaves the test's private namespace.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "link/LinkHub.h"
#include "support/NetLab.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

const char* const kWiredPhone = "169.254.1.2";
const char* const kWifiPhone = "10.77.0.2";
const char* const kDiscover = "/mirandel/discover";

class TwoHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab.ok());
    ASSERT_TRUE(lab.addLink("h0", "169.254.1.1/16", "p0", "169.254.1.2/16"));
    ASSERT_TRUE(lab.addLink("h1", "10.77.0.1/24", "p1", "10.77.0.2/24"));
    PhoneConfig config;
    config.identity = "phone-A";
    config.name = "Ada's phone";
    config.linkText = [](const std::string& asker) {
      return asker.rfind("169.254.", 0) == 0 ? std::string() : std::string("wifi");
    };
    phone = std::make_unique<PhoneEmulator>(config);
    bool started = false;
    lab.runInPeer([&] { started = phone->start(); });
    ASSERT_TRUE(started);
  }
  void TearDown() override {
    if (phone) phone->stop();
  }

  std::size_t probesFrom(const std::string& asker) const {
    std::size_t n = 0;
    for (const auto& m : phone->received()) n += m.address == kDiscover && m.sender == asker;
    return n;
  }
  static const DeviceRecord* find(const std::vector<DeviceRecord>& list, const std::string& id) {
    for (const auto& r : list)
      if (r.address == id) return &r;
    return nullptr;
  }
  static std::string bestOf(LinkHub& hub) {
    const auto list = hub.listDevices();
    const DeviceRecord* r = find(list, "phone-A");
    return r ? r->bestAddress : std::string();
  }

  test::NetLab lab;
  std::unique_ptr<PhoneEmulator> phone;
};

// The whole road from a new clip to a known phone: the probe leaves within a
// quarter second, the phone answers on both links, the table prefers the
// wired route, and the clip's wake-up fires with the reply in its inbox.
TEST_F(TwoHosts, ANewSearchingClipFindsThePhoneOverItsWiredRoute) {
  LinkHub hub;
  std::atomic<int> wakes{0};
  const auto t0 = std::chrono::steady_clock::now();
  const int id = hub.subscribe([&] { ++wakes; });
  hub.drainInbox(id);  // opens the inbox before any reply can come
  hub.setSearching(id, true);
  ASSERT_TRUE(waitFor([&] { return phone->receivedCount(kDiscover) > 0; }));
  EXPECT_LT(phone->receivedTimes(kDiscover).front() - t0, milliseconds(400));

  ASSERT_TRUE(waitFor([&] {
    const auto list = hub.listDevices();
    const DeviceRecord* r = find(list, "phone-A");
    return r && r->routes.size() == 2;
  }));
  const auto list = hub.listDevices();
  const DeviceRecord& r = *find(list, "phone-A");
  EXPECT_EQ(r.name, "Ada's phone");
  EXPECT_EQ(r.routes.at(kWiredPhone).kind, LinkKind::Wired);
  EXPECT_EQ(r.routes.at(kWifiPhone).kind, LinkKind::Wifi);
  EXPECT_EQ(r.bestAddress, kWiredPhone);

  EXPECT_TRUE(waitFor([&] { return wakes >= 2; }));
  std::size_t heres = 0;
  for (const auto& m : hub.drainInbox(id)) heres += m.address == "/mirandel/here";
  EXPECT_GE(heres, 2u);
  hub.unsubscribe(id);
}

// Guards the multi-interface probe: the limited broadcast leaves only by the
// default route's interface, so each subnet also gets a directed broadcast in
// the same round.
TEST_F(TwoHosts, OneProbeRoundReachesThePhoneOnEveryInterface) {
  ASSERT_TRUE(lab.ipHost("route add default dev h1"));
  LinkHub hub;
  hub.probeNow();
  // h1 carries the limited broadcast and 10.77.0.255; h0 only 169.254.255.255.
  ASSERT_TRUE(
      waitFor([&] { return probesFrom("10.77.0.1") == 2 && probesFrom("169.254.1.1") == 1; }));
  ASSERT_TRUE(waitFor([&] { return bestOf(hub) == kWiredPhone; }));
}

// Guards the 12 s rule with real replies: the wired route wins while fresh,
// Wi-Fi takes over once the wired link has been silent for more than 12 s,
// and the wired route wins back as soon as it is heard again.
TEST_F(TwoHosts, WiredIsPreferredWifiTakesOverAfterTwelveSilentSecondsAndWiredWinsBack) {
  ManualClock clock(500 * kSecond);
  LinkHubOptions o;
  o.clock = clock.fn();
  LinkHub hub(o);
  hub.probeNow();
  ASSERT_TRUE(waitFor([&] {
    const auto list = hub.listDevices();
    const DeviceRecord* r = find(list, "phone-A");
    return r && r->routes.size() == 2;
  }));
  EXPECT_EQ(bestOf(hub), kWiredPhone);

  // The wired link goes quiet.
  std::atomic<bool> wiredDown{true};
  phone->setSendFilter([&](const std::string& to, const ControlMessage&) {
    return !(wiredDown && to.rfind("169.254.", 0) == 0);
  });
  clock.advance(12 * kSecond);
  const auto wifiSeen = [&](Nanos at) {
    const auto list = hub.listDevices();
    const DeviceRecord* r = find(list, "phone-A");
    return r && r->routes.at(kWifiPhone).lastSeen == at;
  };
  hub.probeNow();
  ASSERT_TRUE(waitFor([&] { return wifiSeen(clock.now()); }));
  EXPECT_EQ(bestOf(hub), kWiredPhone) << "12 s of silence is still fresh";

  clock.advance(1);
  hub.probeNow();
  ASSERT_TRUE(waitFor([&] { return wifiSeen(clock.now()); }));
  EXPECT_EQ(bestOf(hub), kWifiPhone);

  wiredDown = false;
  clock.advance(kSecond);
  hub.probeNow();
  ASSERT_TRUE(waitFor([&] { return bestOf(hub) == kWiredPhone; }));
}

// The one real-time check of the cadence: a searching clip probes again
// about 3 s after the first probe.
TEST_F(TwoHosts, ASearchingClipProbesEveryThreeSecondsInRealTime) {
  LinkHub hub;
  const int id = hub.subscribe([] {});
  hub.setSearching(id, true);
  // Only the directed broadcast reaches h0's side: one probe per round there.
  ASSERT_TRUE(waitFor([&] { return probesFrom("169.254.1.1") >= 2; }, std::chrono::seconds(6)));
  std::vector<std::chrono::steady_clock::time_point> times;
  const auto all = phone->received();
  const auto at = phone->receivedTimes(kDiscover);
  std::size_t k = 0;
  for (const auto& m : all) {
    if (m.address != kDiscover) continue;
    if (m.sender == "169.254.1.1") times.push_back(at[k]);
    ++k;
  }
  ASSERT_GE(times.size(), 2u);
  const auto gap = times[1] - times[0];
  EXPECT_GT(gap, milliseconds(2900));
  EXPECT_LT(gap, milliseconds(3700));
  hub.unsubscribe(id);
}

}  // namespace
}  // namespace mirandel
