// The Windows build under Wine against a Linux build's phone emulator in a peer namespace,
// which two-hosts.sh starts ("Linux phone", phone-linux, 320x240, streaming) and whose
// addresses it hands over in MIRANDEL_PEER_WIRED (link-local) and MIRANDEL_PEER_OTHER.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "link/LinkHub.h"
#include "link/UdpSocket.h"
#include "support/TestSupport.h"
#include "tools/phone/Stamp.h"
#include "video/VideoStream.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

class TwoHosts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(wired.empty() || other.empty())
        << "MIRANDEL_PEER_WIRED or MIRANDEL_PEER_OTHER missing: run through two-hosts.sh";
  }
  static std::string peer(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
  }

  const std::string wired = peer("MIRANDEL_PEER_WIRED");
  const std::string other = peer("MIRANDEL_PEER_OTHER");
};

// Guards against adapters missed or given a wrong broadcast address (prefix length misread,
// byte order), Winsock broadcasts refused, and another host's replies lost or filed under the
// wrong sender: the phone hears the probe on the link-local subnet only by the directed
// broadcast worked out from GetAdaptersAddresses.
TEST_F(TwoHosts, TheHubFindsTheLinuxPhoneOnBothSubnetsAndPrefersItsLinkLocalRoute) {
  std::vector<std::pair<std::string, std::string>> interfaces;
  for (const BroadcastInterface& i : listBroadcastInterfaces())
    interfaces.emplace_back(i.address, i.broadcast);
  std::sort(interfaces.begin(), interfaces.end());
  EXPECT_EQ(interfaces, (std::vector<std::pair<std::string, std::string>>{
                            {"10.77.0.1", "10.77.0.255"}, {"169.254.1.1", "169.254.255.255"}}));

  ManualClock clock(500 * kSecond);
  LinkHub hub(LinkHubOptions{.clock = clock.fn()});
  hub.probeNow();
  std::optional<DeviceRecord> phone;
  ASSERT_TRUE(waitFor([&] {
    for (const DeviceRecord& r : hub.listDevices())
      if (r.address == "phone-linux" && r.routes.size() == 2) phone = r;
    return phone.has_value();
  })) << hub.listDevices().size()
      << " devices known";
  EXPECT_EQ(phone->name, "Linux phone");
  EXPECT_EQ(phone->routes.at(wired), (RouteEntry{LinkKind::Wired, clock.now()}));
  EXPECT_EQ(phone->routes.at(other), (RouteEntry{LinkKind::Other, clock.now()}));
  EXPECT_EQ(phone->bestAddress, wired);
}

// Guards against an SRT session that does not come up between Winsock and a Linux peer, and
// against pictures out of Media Foundation with the wrong size, out of order, or so garbled
// that their stamps no longer read.
TEST_F(TwoHosts, TheLinuxPhonesStreamIsDecodedByMediaFoundationPictureByPictureInOrder) {
  struct Sink {
    std::mutex mutex;
    std::vector<std::uint32_t> stamps;    // guarded by mutex; the frame number of each picture
    std::uint32_t unreadable = 0;         // guarded by mutex
    std::uint32_t width = 0, height = 0;  // of the last picture; guarded by mutex
  } sink;
  auto pictures = [&] {
    std::lock_guard lock(sink.mutex);
    return sink.stamps.size() + sink.unreadable;
  };
  VideoStream stream;
  StreamConfig config;
  config.host = other;
  ASSERT_TRUE(stream.start(config, [&](const Frame& f) {
    const auto stamp =
        phone::readStamp(f.data, f.stride, static_cast<int>(f.width), static_cast<int>(f.height));
    std::lock_guard lock(sink.mutex);
    if (stamp)
      sink.stamps.push_back(stamp->frame);
    else
      ++sink.unreadable;
    sink.width = f.width;
    sink.height = f.height;
  }));
  ASSERT_TRUE(waitFor([&] { return pictures() >= 60; }, std::chrono::seconds(20)))
      << pictures() << " pictures; " << stream.stats().statusText
      << "; refusal: " << stream.stats().decoderInfo.refusal;
  const StreamStats stats = stream.stats();
  stream.stop();
  EXPECT_EQ(std::tuple(stats.connected, stats.codec, stats.decoderInfo.errors),
            std::tuple(true, kCodecH264, 0u));

  std::lock_guard lock(sink.mutex);
  EXPECT_EQ(std::tuple(sink.unreadable, sink.width, sink.height), std::tuple(0u, 320u, 240u));
  for (std::size_t i = 1; i < sink.stamps.size(); ++i)
    ASSERT_GT(sink.stamps[i], sink.stamps[i - 1]) << "picture " << i;
}

}  // namespace
}  // namespace mirandel
