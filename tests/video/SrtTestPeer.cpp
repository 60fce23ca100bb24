#include "SrtTestPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

extern char** environ;

namespace mirandel::test {

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

SrtTestListener::SrtTestListener(int port) {
  static std::once_flag once;
  std::call_once(once, [] { srt_startup(); });
  listener_ = srt_create_socket();
  const sockaddr_in a = loopback(port);
  srt_bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  srt_listen(listener_, 1);
}

SrtTestListener::~SrtTestListener() {
  closePeer();
  if (listener_ != SRT_INVALID_SOCK) srt_close(listener_);
}

bool SrtTestListener::accept(int timeoutMs) {
  const int eid = srt_epoll_create();
  int events = SRT_EPOLL_IN | SRT_EPOLL_ERR;
  srt_epoll_add_usock(eid, listener_, &events);
  SRT_EPOLL_EVENT ready[1];
  const int n = srt_epoll_uwait(eid, ready, 1, timeoutMs);
  srt_epoll_release(eid);
  if (n <= 0) return false;
  sockaddr_storage from{};
  int len = sizeof from;
  peer_ = srt_accept(listener_, reinterpret_cast<sockaddr*>(&from), &len);
  return peer_ != SRT_INVALID_SOCK;
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

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) pid_ = pid;
}

ChildProcess::~ChildProcess() { kill(SIGKILL); }

void ChildProcess::kill(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

UdpSender::UdpSender(int port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)), port_(port) {}
UdpSender::~UdpSender() { close(fd_); }
void UdpSender::send(const std::vector<std::uint8_t>& datagram) {
  const sockaddr_in a = loopback(port_);
  sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

UdpBlackHole::UdpBlackHole(int port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
  const sockaddr_in a = loopback(port);
  bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}
UdpBlackHole::~UdpBlackHole() { close(fd_); }

}  // namespace mirandel::test
