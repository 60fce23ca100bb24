// POSIX implementation of the UDP socket seam.
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>

#include "link/SocketAddress.h"
#include "link/UdpSocket.h"

namespace mirandel {

void startSocketLibrary() {}

UdpSocket UdpSocket::open() {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return UdpSocket(s < 0 ? kInvalid : s);
}

bool UdpSocket::prepareWellKnownPort() {
  const int on = 1;
  return valid() && ::setsockopt(native(handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool UdpSocket::setBroadcast(bool on) {
  const int v = on ? 1 : 0;
  return valid() && ::setsockopt(native(handle_), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::setReceiveTimeout(std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  return valid() && ::setsockopt(native(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

long UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity, std::string& sender,
                        std::uint16_t* senderPort) {
  if (!valid()) return -1;
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n;
  do {
    n = ::recvfrom(native(handle_), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  sender = toText(from.sin_addr);
  if (senderPort) *senderPort = ntohs(from.sin_port);
  return static_cast<long>(n);
}

bool UdpSocket::sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data,
                       std::size_t size) {
  sockaddr_in to;
  if (!valid() || address.empty() || !toSockaddr(address, port, to)) return false;
  return ::sendto(native(handle_), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(size);
}

void UdpSocket::interrupt() {
  // On Linux, shutting down the read side of even an unconnected UDP socket
  // wakes a blocked recvfrom, which then returns 0 at once.
  if (valid()) ::shutdown(native(handle_), SHUT_RD);
}

void UdpSocket::close() {
  if (valid()) ::close(native(handle_));
  handle_ = kInvalid;
}

std::vector<BroadcastInterface> listBroadcastInterfaces() {
  std::vector<BroadcastInterface> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    if (!(it->ifa_flags & IFF_UP) || !(it->ifa_flags & IFF_BROADCAST)) continue;
    if (it->ifa_flags & IFF_LOOPBACK) continue;
    const auto* addr = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
    in_addr broadcast{};
    if (it->ifa_broadaddr && it->ifa_broadaddr->sa_family == AF_INET) {
      broadcast = reinterpret_cast<const sockaddr_in*>(it->ifa_broadaddr)->sin_addr;
    }
    if (broadcast.s_addr == 0 && it->ifa_netmask) {
      // An address added without "brd": derive the subnet's broadcast.
      const auto* mask = reinterpret_cast<const sockaddr_in*>(it->ifa_netmask);
      broadcast.s_addr = addr->sin_addr.s_addr | ~mask->sin_addr.s_addr;
    }
    if (broadcast.s_addr == 0 || broadcast.s_addr == addr->sin_addr.s_addr) continue;
    out.push_back({it->ifa_name ? it->ifa_name : "", toText(addr->sin_addr), toText(broadcast)});
  }
  ::freeifaddrs(list);
  return out;
}

}  // namespace mirandel
