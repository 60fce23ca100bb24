// Discovery across two network namespaces: the phone emulator lives in a peer namespace joined to
// ours by two veth pairs, a link-local one (no link text, so Wired by address) and one whose
// replies say "wifi". Probes are real broadcasts; nothing leaves the test's private namespace.
#include <gtest/gtest.h>

#include <optional>

#include "link/LinkHub.h"
#include "support/NetLab.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using test::waitFor;

const char* const kWiredPhone = "169.254.1.2";
const char* const kWifiPhone = "10.77.0.2";

class TwoHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab.ok());
    ASSERT_TRUE(lab.addLink("h0", "169.254.1.1/16", "p0", "169.254.1.2/16"));
    ASSERT_TRUE(lab.addLink("h1", "10.77.0.1/24", "p1", "10.77.0.2/24"));
    bool started = false;
    lab.runInPeer([&] { started = phone.start(); });
    ASSERT_TRUE(started);
  }

  std::size_t probesFrom(const std::string& asker) const {
    std::size_t n = 0;
    for (const auto& m : phone.received())
      n += m.address == "/mirandel/discover" && m.sender == asker;
    return n;
  }
  static std::optional<DeviceRecord> phoneA(LinkHub& hub) {
    for (const auto& r : hub.listDevices())
      if (r.address == "phone-A") return r;
    return std::nullopt;
  }

  test::NetLab lab;  // outlives the phone, whose socket lives in its peer namespace
  PhoneEmulator phone{PhoneConfig{
      .name = "Ada's phone", .identity = "phone-A", .linkText = [](const std::string& asker) {
        return asker.rfind("169.254.", 0) == 0 ? std::string() : std::string("wifi");
      }}};
};

// Guards the road from a probe to a known phone across real interfaces: the limited broadcast
// leaves only by the default route, so each subnet also gets a directed broadcast in the round;
// replies are filed under their real senders at the hub's clock, and the wired route preferred.
TEST_F(TwoHosts, OneProbeRoundFindsThePhoneOnEveryInterfaceAndPrefersItsWiredRoute) {
  ASSERT_TRUE(lab.ipHost("route add default dev h1"));
  ManualClock clock(500 * kSecond);
  LinkHub hub(LinkHubOptions{.clock = clock.fn()});
  hub.probeNow();
  // h1 carries the limited broadcast and 10.77.0.255; h0 only 169.254.255.255.
  ASSERT_TRUE(
      waitFor([&] { return probesFrom("10.77.0.1") == 2 && probesFrom("169.254.1.1") == 1; }));
  ASSERT_TRUE(waitFor([&] { return phoneA(hub) && phoneA(hub)->routes.size() == 2; }));
  const DeviceRecord r = *phoneA(hub);
  EXPECT_EQ(r.name, "Ada's phone");
  EXPECT_EQ(r.routes.at(kWiredPhone), (RouteEntry{LinkKind::Wired, clock.now()}));
  EXPECT_EQ(r.routes.at(kWifiPhone), (RouteEntry{LinkKind::Wifi, clock.now()}));
  EXPECT_EQ(r.bestAddress, kWiredPhone);
}

}  // namespace
}  // namespace mirandel
