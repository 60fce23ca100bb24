#include "tools/relay/Relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "tools/relay/Impairment.h"

namespace mirandel::relay {
namespace {

constexpr std::size_t kMaxCallers = 64;  // the least recently heard goes first
constexpr int kSocketBuffer = 4 << 20;   // bursts must not overflow the kernel's queue
constexpr Nanos kLongestWait = 100 * kMillisecond;
constexpr int kReadsPerRound = 256;  // per socket, so one busy socket cannot starve the rest

Nanos steadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Nanos realtimeNanos() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<Nanos>(ts.tv_sec) * kSecond + ts.tv_nsec;
}

std::uint64_t keyOf(const sockaddr_in& a) {
  return (static_cast<std::uint64_t>(ntohl(a.sin_addr.s_addr)) << 16) | ntohs(a.sin_port);
}

bool toSockaddr(const Endpoint& e, sockaddr_in& out) {
  out = {};
  out.sin_family = AF_INET;
  out.sin_port = htons(e.port);
  return e.port != 0 && inet_pton(AF_INET, e.address.c_str(), &out.sin_addr) == 1;
}

// A non-blocking datagram socket that stamps each datagram with its kernel receive time.
int openSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  for (int option : {SO_RCVBUFFORCE, SO_SNDBUFFORCE}) {
    if (setsockopt(fd, SOL_SOCKET, option, &kSocketBuffer, sizeof kSocketBuffer) != 0) {
      const int fallback = option == SO_RCVBUFFORCE ? SO_RCVBUF : SO_SNDBUF;
      setsockopt(fd, SOL_SOCKET, fallback, &kSocketBuffer, sizeof kSocketBuffer);
    }
  }
  return fd;
}

// One caller: its address and its own socket towards the far side.
struct Caller {
  sockaddr_in address{};
  int fd = -1;
  Nanos lastHeard = 0;
};

// The relay thread's state.
class Round {
 public:
  Round(const RelayOptions& options, int listenFd)
      : listenFd_(listenFd),
        forward_(options.faults, 1),
        back_(options.faults, 2),
        start_(steadyNanos()) {
    toSockaddr(options.to, to_);
    buffer_.resize(65536);
  }
  ~Round() {
    for (auto& [id, c] : callers_) ::close(c.fd);
  }

  Nanos sinceStart() const { return steadyNanos() - start_; }

  // How long ppoll may wait before a packet is due.
  Nanos wait() const {
    Nanos next = kLongestWait;
    const Nanos now = sinceStart();
    for (const Impairment* d : {&forward_, &back_}) {
      if (auto due = d->nextDue()) next = std::min(next, std::max<Nanos>(*due - now, 0));
    }
    return next;
  }

  void pollSet(std::vector<pollfd>& fds, std::vector<std::uint64_t>& ids, int wakeFd) const {
    fds.clear();
    ids.clear();
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& [id, c] : callers_) {
      fds.push_back({c.fd, POLLIN, 0});
      ids.push_back(id);
    }
  }

  void readCallers() {
    for (int i = 0; i < kReadsPerRound; ++i) {
      sockaddr_in from{};
      Nanos arrived = 0;
      const long n = receive(listenFd_, &from, arrived);
      if (n < 0) return;
      const std::uint64_t id = callerFor(from, arrived);
      if (id == 0) continue;
      forward_.offer({buffer_.begin(), buffer_.begin() + n}, id, arrived);
    }
  }

  void readFarSide(std::uint64_t id) {
    auto it = callers_.find(id);
    if (it == callers_.end()) return;
    for (int i = 0; i < kReadsPerRound; ++i) {
      Nanos arrived = 0;
      const long n = receive(it->second.fd, nullptr, arrived);
      if (n < 0) return;
      back_.offer({buffer_.begin(), buffer_.begin() + n}, id, arrived);
    }
  }

  // Sends what is due and publishes the figures.
  void sendDue(std::mutex& mutex, RelayReport& report) {
    const Nanos now = sinceStart();
    due_.clear();
    forward_.takeDue(now, due_);
    const std::size_t forwardCount = due_.size();
    back_.takeDue(now, due_);
    lateness_.clear();
    for (std::size_t i = 0; i < due_.size(); ++i) {
      const Datagram& d = due_[i];
      auto it = callers_.find(d.session);
      if (it == callers_.end()) continue;  // forgotten caller: nowhere to go
      // Errors are the path's business (a far side that is gone answers with ICMP, reported
      // here as ECONNREFUSED): the packet is lost, as it would be on the air.
      if (i < forwardCount) {
        ::send(it->second.fd, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT);
      } else {
        ::sendto(listenFd_, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&it->second.address), sizeof(sockaddr_in));
      }
      lateness_.push_back(sinceStart() - d.due);
    }
    std::lock_guard lock(mutex);
    report.forward = forward_.counters();
    report.back = back_.counters();
    report.callers = callersSeen_;
    for (Nanos l : lateness_) report.lateness.add(l);
  }

 private:
  // One datagram into buffer_; its length, or -1 when none is waiting. `arrived` is the
  // kernel's receive time on this round's clock.
  long receive(int fd, sockaddr_in* from, Nanos& arrived) {
    iovec io{buffer_.data(), buffer_.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_name = from;
    m.msg_namelen = from ? sizeof(sockaddr_in) : 0;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    long n = -1;
    do {
      n = ::recvmsg(fd, &m, MSG_DONTWAIT);
      // ECONNREFUSED: an earlier send met a closed port; that datagram is lost, go on.
    } while (n < 0 && (errno == EINTR || errno == ECONNREFUSED));
    if (n < 0) return -1;
    arrived = sinceStart();
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
        timespec ts{};
        std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
        const Nanos ago = realtimeNanos() - (static_cast<Nanos>(ts.tv_sec) * kSecond + ts.tv_nsec);
        if (ago >= 0 && ago < kSecond) arrived -= ago;  // ignore a system clock step
      }
    }
    return n;
  }

  // The caller's id, opening its socket towards the far side when it is new; 0 when none can
  // be opened.
  std::uint64_t callerFor(const sockaddr_in& from, Nanos now) {
    const std::uint64_t key = keyOf(from);
    if (auto it = byAddress_.find(key); it != byAddress_.end()) {
      callers_[it->second].lastHeard = now;
      return it->second;
    }
    if (callers_.size() >= kMaxCallers) {
      auto oldest = std::min_element(callers_.begin(), callers_.end(), [](auto& a, auto& b) {
        return a.second.lastHeard < b.second.lastHeard;
      });
      byAddress_.erase(keyOf(oldest->second.address));
      ::close(oldest->second.fd);
      callers_.erase(oldest);
    }
    const int fd = openSocket();
    if (fd < 0) return 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) != 0) {
      ::close(fd);
      return 0;
    }
    const std::uint64_t id = ++callersSeen_;
    callers_[id] = Caller{from, fd, now};
    byAddress_[key] = id;
    return id;
  }

  int listenFd_;
  sockaddr_in to_{};
  Impairment forward_, back_;
  Nanos start_;
  std::vector<std::uint8_t> buffer_;
  std::map<std::uint64_t, Caller> callers_;           // by id
  std::map<std::uint64_t, std::uint64_t> byAddress_;  // address key to id
  std::uint64_t callersSeen_ = 0;
  std::vector<Datagram> due_;
  std::vector<Nanos> lateness_;
};

}  // namespace

bool parseEndpoint(const std::string& text, Endpoint& out) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const long p = std::strtol(port.c_str(), nullptr, 10);
  in_addr a{};
  if (p < 1 || p > 65535 || inet_pton(AF_INET, text.substr(0, colon).c_str(), &a) != 1) {
    return false;
  }
  out.address = text.substr(0, colon);
  out.port = static_cast<std::uint16_t>(p);
  return true;
}

Relay::~Relay() { stop(); }

bool Relay::start(const RelayOptions& options, std::string* error) {
  stop();
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    return false;
  };
  sockaddr_in listen{}, to{};
  if (!toSockaddr(options.listen, listen)) return fail("bad listening address");
  if (!toSockaddr(options.to, to)) return fail("bad far-side address");
  listenFd_ = openSocket();
  if (listenFd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&listen), sizeof listen) != 0) {
    return fail("cannot bind " + options.listen.address + ":" +
                std::to_string(options.listen.port) + ": " + std::strerror(errno));
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return fail(std::string("eventfd: ") + std::strerror(errno));
  options_ = options;
  {
    std::lock_guard lock(mutex_);
    report_ = RelayReport{};
  }
  stopRequested_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void Relay::stop() {
  stopRequested_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  for (int* fd : {&listenFd_, &wakeFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

RelayReport Relay::report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

// Relay thread.
void Relay::run() {
  Round round(options_, listenFd_);
  std::vector<pollfd> fds;
  std::vector<std::uint64_t> ids;
  while (!stopRequested_) {
    round.pollSet(fds, ids, wakeFd_);
    const Nanos wait = round.wait();
    const timespec timeout{static_cast<time_t>(wait / kSecond), static_cast<long>(wait % kSecond)};
    if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) break;
    if (stopRequested_) break;
    if (fds[1].revents & POLLIN) round.readCallers();
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents & (POLLIN | POLLERR)) round.readFarSide(ids[i - 2]);
    }
    round.sendDue(mutex_, report_);
  }
}

}  // namespace mirandel::relay
