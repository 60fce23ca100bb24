// The phone emulator's control side, on real sockets in the test's private
// namespace: what it answers, where it sends, and the hooks tests script it by.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/ControlCodec.h"
#include "link/UdpSocket.h"
#include "support/TestSupport.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::waitFor;

// The clip's side: port 9001, where every phone message must arrive.
struct Clip {
  UdpSocket socket = UdpSocket::open();
  Clip() {
    EXPECT_TRUE(socket.bind(9001));
    EXPECT_TRUE(socket.setReceiveTimeout(milliseconds(2000)));
  }
  void send(const std::string& to, const ControlMessage& m, bool broadcast = false) {
    if (broadcast) socket.setBroadcast(true);
    const auto bytes = encode(m);
    EXPECT_TRUE(socket.sendTo(to, 9000, bytes.data(), bytes.size()));
  }
  // The next message, or an empty address on time-out.
  IncomingMessage next() {
    std::vector<std::uint8_t> buffer(65536);
    std::string sender;
    const long n = socket.receive(buffer.data(), buffer.size(), sender);
    ControlMessage m;
    if (n <= 0 || !decode(buffer.data(), static_cast<std::size_t>(n), m)) return {};
    return {sender, m.address, m.args};
  }
};

const ControlMessage kProbe{"/mirandel/discover", {}};

std::vector<ControlArg> texts(std::initializer_list<const char*> values) {
  std::vector<ControlArg> out;
  for (const char* v : values) out.push_back(ControlArg::ofText(v));
  return out;
}

// Guards the reply every discovery test relies on: all five arguments, the
// link text chosen per asker (left out when empty), sent to port 9001.
TEST(PhoneEmulator, AnswersAProbeWithItsConfiguredHereReply) {
  PhoneConfig config;
  config.name = "Ada";
  config.ownText = "2.0";
  config.extra = "studio";
  config.identity = "ada-1";
  int asked = 0;
  config.linkText = [&asked](const std::string&) { return ++asked == 1 ? "wired" : ""; };
  PhoneEmulator phone(config);
  ASSERT_TRUE(phone.start());
  Clip clip;
  clip.send("127.0.0.1", kProbe);
  const IncomingMessage first = clip.next();
  EXPECT_EQ(first.sender, "127.0.0.1");
  EXPECT_EQ(first.address, "/mirandel/here");
  EXPECT_EQ(first.args, texts({"Ada", "2.0", "studio", "ada-1", "wired"}));
  clip.send("127.0.0.1", kProbe);
  EXPECT_EQ(clip.next().args, texts({"Ada", "2.0", "studio", "ada-1"}));
  EXPECT_EQ(phone.receivedCount("/mirandel/discover"), 2u);
}

// Guards that the emulator hears broadcast probes, as a phone must.
TEST(PhoneEmulator, HearsADirectedBroadcastProbe) {
  // A veth pair with one end addressed: the subnet's broadcast loops back to
  // local listeners (there is no dummy driver here).
  ASSERT_EQ(std::system("ip link add b0 type veth peer name b1 && "
                        "ip addr add 10.9.0.1/24 brd + dev b0 && ip link set b0 up && "
                        "ip link set b1 up"),
            0);
  PhoneEmulator phone;
  ASSERT_TRUE(phone.start());
  Clip clip;
  clip.send("10.9.0.255", kProbe, /*broadcast=*/true);
  EXPECT_EQ(clip.next().address, "/mirandel/here");
}

// Guards the scripting hooks later tests build on: handlers for new
// addresses, injected replies, dropped and delayed sends.
TEST(PhoneEmulator, CanBeScriptedWithHandlersInjectedRepliesDropsAndDelays) {
  PhoneEmulator phone;
  phone.on("/mirandel/stream/quality", [](PhoneEmulator& p, const IncomingMessage& m) {
    p.send(m.sender, {"/mirandel/stream/quality", {ControlArg::ofInt(2)}});
  });
  phone.addExtraReply({"/mirandel/status", {ControlArg::ofFloat(30.0f)}});
  ASSERT_TRUE(phone.start());
  Clip clip;

  clip.send("127.0.0.1", {"/mirandel/stream/quality", {}});
  const IncomingMessage q = clip.next();
  EXPECT_EQ(q.address, "/mirandel/stream/quality");
  EXPECT_EQ(q.args, std::vector<ControlArg>{ControlArg::ofInt(2)});

  clip.send("127.0.0.1", kProbe);
  EXPECT_EQ(clip.next().address, "/mirandel/here");
  EXPECT_EQ(clip.next().address, "/mirandel/status");

  phone.setSendFilter(
      [](const std::string&, const ControlMessage& m) { return m.address != "/mirandel/here"; });
  clip.send("127.0.0.1", kProbe);
  EXPECT_EQ(clip.next().address, "/mirandel/status");  // the here reply was dropped

  phone.setSendFilter(nullptr);
  phone.setSendDelay(milliseconds(300));
  const auto asked = std::chrono::steady_clock::now();
  clip.send("127.0.0.1", kProbe);
  EXPECT_EQ(clip.next().address, "/mirandel/here");
  EXPECT_GE(std::chrono::steady_clock::now() - asked, milliseconds(300));
  EXPECT_EQ(phone.receivedCount("/mirandel/discover"), 3u);
}

}  // namespace
}  // namespace mirandel
