#include "support/SrtTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "video/SrtStartup.h"

namespace mirandel::test {

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int boundLoopbackUdp(int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = loopback(port);
  bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return fd;
}

SrtTestListener::SrtTestListener(int port) {
  startSrtOnce();
  listener_ = srt_create_socket();
  const int no = 0;  // non-blocking accept, see accept()
  srt_setsockopt(listener_, 0, SRTO_RCVSYN, &no, sizeof no);
  // Its own sending latency at nought, so that the one agreed is the caller's.
  srt_setsockopt(listener_, 0, SRTO_PEERLATENCY, &no, sizeof no);
  const sockaddr_in a = loopback(port);
  srt_bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  srt_listen(listener_, 1);
}

SrtTestListener::~SrtTestListener() {
  closePeer();
  for (SRTSOCKET s : earlierPeers_) srt_close(s);
  if (listener_ != SRT_INVALID_SOCK) srt_close(listener_);
}

// The library tells a listener's epolls of a queued caller only if they were subscribed when
// it arrived, and a fast caller may arrive before this call; so the listener is non-blocking
// and polled instead.
bool SrtTestListener::accept(int timeoutMs) {
  if (peer_ != SRT_INVALID_SOCK) earlierPeers_.push_back(peer_);
  peer_ = SRT_INVALID_SOCK;
  return waitFor(
      [&] {
        sockaddr_storage from{};
        int len = sizeof from;
        peer_ = srt_accept(listener_, reinterpret_cast<sockaddr*>(&from), &len);
        return peer_ != SRT_INVALID_SOCK;
      },
      std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(5));
}

int SrtTestListener::peerLatencyMs() const {
  int latency = -1;
  int size = sizeof latency;
  srt_getsockopt(peer_, 0, SRTO_PEERLATENCY, &latency, &size);
  return latency;
}

bool SrtTestListener::send(const std::vector<std::uint8_t>& message) {
  return srt_sendmsg2(peer_, reinterpret_cast<const char*>(message.data()),
                      static_cast<int>(message.size()),
                      nullptr) == static_cast<int>(message.size());
}

void SrtTestListener::closePeer() {
  if (peer_ != SRT_INVALID_SOCK) srt_close(peer_);
  peer_ = SRT_INVALID_SOCK;
}

LoopbackUdp::LoopbackUdp(int port, int peerPort)
    : fd_(boundLoopbackUdp(port)), peer_(loopback(peerPort)) {}
LoopbackUdp::~LoopbackUdp() { close(fd_); }
void LoopbackUdp::send(const std::vector<std::uint8_t>& datagram) {
  sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&peer_),
         sizeof peer_);
}

}  // namespace mirandel::test
