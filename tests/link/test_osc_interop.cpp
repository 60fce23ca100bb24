// Interoperability with an independent OSC implementation (liblo's command
// line tools), on loopback inside the test's private network namespace.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "link/ControlCodec.h"
#include "link/UdpSocket.h"
#include "support/TagLetters.h"
#include "support/TestSupport.h"

namespace mirandel {
namespace {

using test::F, test::I, test::S, test::kTrue, test::kFalse, test::kNil, test::kImpulse;
using test::waitFor;

// Guards against reading any argument kind differently from liblo: order,
// endianness, padding after strings of every length, and data-less tags.
TEST(OscInterop, MessagesSentByOscsendDecodeToTheSameValues) {
  UdpSocket socket = UdpSocket::open();
  ASSERT_TRUE(socket.bind(9001, "127.0.0.1"));
  ASSERT_TRUE(socket.setReceiveTimeout(std::chrono::seconds(5)));
  const std::vector<std::pair<std::string, ControlMessage>> cases = {
      {"/mirandel/x ifsTFNI -1 1.5 'hi there'",
       {"/mirandel/x", {I(-1), F(1.5f), S("hi there"), kTrue, kFalse, kNil, kImpulse}}},
      {"/abc ssss '' a abcd abcde", {"/abc", {S(""), S("a"), S("abcd"), S("abcde")}}},
      {"/mirandel/status fffiiii 29.97 30 0 2147483647 -2147483648 0 0",
       {"/mirandel/status",
        {F(29.97f), F(30.0f), F(0.0f), I(2147483647), I(-2147483647 - 1), I(0), I(0)}}},
      {"/mirandel/here sS Phone sym", {"/mirandel/here", {S("Phone"), S("sym")}}},
      // A 64-bit int is a kind we do not read: the list ends there, the message stays.
      {"/mirandel/x ihi 4 5 6", {"/mirandel/x", {I(4)}}},
  };
  std::vector<std::uint8_t> buffer(65536);
  std::string sender;
  for (const auto& [command, expected] : cases) {
    SCOPED_TRACE(command);
    ASSERT_EQ(std::system(("oscsend 127.0.0.1 9001 " + command).c_str()), 0);
    const long n = socket.receive(buffer.data(), buffer.size(), sender);
    ASSERT_GT(n, 0);
    ControlMessage m;
    EXPECT_TRUE(decode(buffer.data(), static_cast<std::size_t>(n), m));
    EXPECT_EQ(m, expected);
  }
}

// Guards against emitting anything liblo would misread.
TEST(OscInterop, MessagesWeEncodeArePrintedCorrectlyByOscdump) {
  const std::string out = test::binaryPath("oscdump-" + std::to_string(::getpid()) + ".txt");
  const int pid =
      std::atoi(test::commandOutput("oscdump -L 9002 > '" + out + "' 2>&1 & echo $!").c_str());
  ASSERT_GT(pid, 0);
  auto dumped = [&] {
    const std::vector<std::uint8_t> bytes = test::readFile(out);
    return std::string(bytes.begin(), bytes.end());
  };
  UdpSocket socket = UdpSocket::open();
  const ControlMessage m{
      "/mirandel/x", {I(-1), F(0.25f), S("Café 1"), S(""), kTrue, kFalse, kNil, kImpulse, I(900)}};
  const std::vector<std::uint8_t> bytes = encode(m);
  const std::vector<std::uint8_t> probe = encode({"/mirandel/discover", {}});
  // oscdump needs a moment to bind; resend until it has printed both.
  const bool printed = waitFor(
      [&] {
        socket.sendTo("127.0.0.1", 9002, bytes.data(), bytes.size());
        socket.sendTo("127.0.0.1", 9002, probe.data(), probe.size());
        return dumped().find("/mirandel/discover") != std::string::npos;
      },
      std::chrono::seconds(5), std::chrono::milliseconds(50));
  ::kill(pid, SIGTERM);
  const std::string text = dumped();
  std::remove(out.c_str());
  ASSERT_TRUE(printed) << text;
  EXPECT_NE(
      text.find(" /mirandel/x ifssTFNIi -1 0.250000 \"Café 1\" \"\" #T #F Nil Infinitum 900\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find(" /mirandel/discover \n"), std::string::npos) << text;
}

}  // namespace
}  // namespace mirandel
