#pragma once
// The clip's end of the control channel in the phone tests: UDP port 9001 in the test's private
// namespace, where every phone message must arrive.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/ControlCodec.h"
#include "link/UdpSocket.h"

namespace mirandel::test {

struct ClipSocket {
  UdpSocket socket = UdpSocket::open();

  ClipSocket() {
    EXPECT_TRUE(socket.bind(9001));
    EXPECT_TRUE(socket.setReceiveTimeout(std::chrono::milliseconds(3000)));
  }
  // To the phone's port 9000 on loopback.
  void send(const std::string& address, std::vector<ControlArg> args = {}) {
    const auto bytes = encode({address, std::move(args)});
    EXPECT_TRUE(socket.sendTo("127.0.0.1", 9000, bytes.data(), bytes.size()));
  }
  // The next message, passing over the phone's periodic status unless asked for; an empty
  // address on time-out.
  IncomingMessage next(bool skipStatus = true) {
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
      std::string sender;
      const long n = socket.receive(buffer.data(), buffer.size(), sender);
      ControlMessage m;
      if (n <= 0 || !decode(buffer.data(), static_cast<std::size_t>(n), m)) return {};
      if (!skipStatus || m.address != "/mirandel/status") return {sender, m.address, m.args};
    }
  }
  // Sends a quality query and answers everything that arrived before its reply: UDP on
  // loopback keeps order, so this proves what was not sent.
  std::vector<IncomingMessage> drainUntilQualityReply() {
    send("/mirandel/stream/quality");
    std::vector<IncomingMessage> before;
    for (IncomingMessage m = next(); !m.address.empty(); m = next()) {
      if (m.address == "/mirandel/stream/quality" && m.args.size() == 1) return before;
      before.push_back(m);
    }
    ADD_FAILURE() << "no quality reply";
    return before;
  }
};

// A message as it arrives at the clip from the phone on loopback.
inline IncomingMessage fromPhone(const std::string& address, std::vector<ControlArg> args = {}) {
  return {"127.0.0.1", address, std::move(args)};
}

}  // namespace mirandel::test
