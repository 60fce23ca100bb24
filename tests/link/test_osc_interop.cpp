// Interoperability with an independent OSC implementation (liblo's command
// line tools), on loopback inside the test's private network namespace.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "TagLetters.h"
#include "link/ControlCodec.h"
#include "link/UdpSocket.h"
#include "support/TestSupport.h"

namespace mirandel {
namespace {

using test::f, test::i, test::s, test::kTrue, test::kFalse, test::kNil, test::kImpulse;
using test::waitFor;

// Guards against reading any argument kind differently from liblo: order,
// endianness, padding after strings of every length, and data-less tags.
TEST(OscInterop, MessagesSentByOscsendDecodeToTheSameValues) {
  UdpSocket socket = UdpSocket::open();
  ASSERT_TRUE(socket.bind(9001, "127.0.0.1"));
  ASSERT_TRUE(socket.setReceiveTimeout(std::chrono::seconds(5)));
  const std::vector<std::pair<std::string, ControlMessage>> cases = {
      {"/mirandel/x ifsTFNI -1 1.5 'hi there'",
       {"/mirandel/x", {i(-1), f(1.5f), s("hi there"), kTrue, kFalse, kNil, kImpulse}}},
      {"/abc ssss '' a abcd abcde", {"/abc", {s(""), s("a"), s("abcd"), s("abcde")}}},
      {"/mirandel/status fffiiii 29.97 30 0 2147483647 -2147483648 0 0",
       {"/mirandel/status",
        {f(29.97f), f(30.0f), f(0.0f), i(2147483647), i(-2147483647 - 1), i(0), i(0)}}},
      {"/mirandel/here sS Phone sym", {"/mirandel/here", {s("Phone"), s("sym")}}},
      {"/mirandel/discover", {"/mirandel/discover", {}}},
      // A 64-bit int is a kind we do not read: the list ends there, the message stays.
      {"/mirandel/x ihi 4 5 6", {"/mirandel/x", {i(4)}}},
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
      "/mirandel/x", {i(-1), f(0.25f), s("Café 1"), s(""), kTrue, kFalse, kNil, kImpulse, i(900)}};
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
