#pragma once
// Test-side SRT peers: a minimal listener written straight on the library, and a UDP socket
// that swallows everything sent to it. An independent sender runs as a ChildProcess
// (support/TestPlatform.h); the phone emulator's own stream for these tests is set up by
// TestStream.h.
#include <netinet/in.h>
#include <srt/srt.h>

#include <cstdint>
#include <vector>

#include "support/TestPlatform.h"

namespace mirandel::test {

// A live-mode SRT listener on 127.0.0.1:port accepting one caller.
class SrtTestListener {
 public:
  explicit SrtTestListener(int port);
  ~SrtTestListener();
  // Blocks until a caller is accepted (or the timeout passes); answers whether one was. Callers
  // accepted before stay connected (closing them would make them call again) until destruction.
  bool accept(int timeoutMs = 5000);
  // The latency the accepted caller asked for as its receive latency, in milliseconds: the
  // listener sends with it.
  int peerLatencyMs() const;
  bool send(const std::vector<std::uint8_t>& message);
  // Closes the accepted connection (the caller sees the sender close).
  void closePeer();

 private:
  SRTSOCKET listener_ = SRT_INVALID_SOCK;
  SRTSOCKET peer_ = SRT_INVALID_SOCK;
  std::vector<SRTSOCKET> earlierPeers_;
};

// 127.0.0.1:port.
sockaddr_in loopback(int port);

// A UDP socket bound to 127.0.0.1:port (0: any free port); the caller closes it.
int boundLoopbackUdp(int port);

// A UDP socket bound to 127.0.0.1:port (0: any free port) that reads nothing, so SRT handshakes
// sent to it go unanswered and a connect blocks until its timeout; it sends to 127.0.0.1:peerPort.
class LoopbackUdp {
 public:
  explicit LoopbackUdp(int port, int peerPort = 0);
  ~LoopbackUdp();
  void send(const std::vector<std::uint8_t>& datagram);

 private:
  const int fd_;
  const sockaddr_in peer_;
};

}  // namespace mirandel::test
