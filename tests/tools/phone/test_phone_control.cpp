// The phone emulator's control side, on real sockets in the test's private
// namespace: what it answers, where it sends, and the hooks tests script it by.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/phone/ClipSocket.h"
#include "tools/phone/PhoneEmulator.h"

namespace mirandel {
namespace {

using std::chrono::milliseconds;
using test::fromPhone;

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
  test::ClipSocket clip;
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(),
            fromPhone("/mirandel/here", texts({"Ada", "2.0", "studio", "ada-1", "wired"})));
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/here", texts({"Ada", "2.0", "studio", "ada-1"})));
  EXPECT_EQ(phone.receivedCount("/mirandel/discover"), 2u);
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
  test::ClipSocket clip;

  clip.send("/mirandel/stream/quality");
  EXPECT_EQ(clip.next(), fromPhone("/mirandel/stream/quality", {ControlArg::ofInt(2)}));

  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(false).address, "/mirandel/here");
  EXPECT_EQ(clip.next(false).address, "/mirandel/status");

  phone.setSendFilter(
      [](const std::string&, const ControlMessage& m) { return m.address != "/mirandel/here"; });
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(false).address, "/mirandel/status");  // the here reply was dropped

  phone.setSendFilter(nullptr);
  phone.setSendDelay(milliseconds(300));
  const auto asked = std::chrono::steady_clock::now();
  clip.send("/mirandel/discover");
  EXPECT_EQ(clip.next(false).address, "/mirandel/here");
  EXPECT_GE(std::chrono::steady_clock::now() - asked, milliseconds(300));
  EXPECT_EQ(phone.receivedCount("/mirandel/discover"), 3u);
}

}  // namespace
}  // namespace mirandel
