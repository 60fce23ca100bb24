// Winsock implementation of the UDP socket seam.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <iphlpapi.h>
#include <mswsock.h>
#include <windows.h>

#include "link/SocketAddress.h"
#include "link/UdpSocket.h"

namespace mirandel {
namespace {

std::string utf8(const wchar_t* text) {
  if (!text || !*text) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(size - 1));
  return out;
}

bool setOption(std::intptr_t handle, int name, const void* value, int size) {
  return ::setsockopt(native(handle), SOL_SOCKET, name, static_cast<const char*>(value), size) == 0;
}

}  // namespace

void startSocketLibrary() {
  // Counted by Winsock; deliberately never matched by WSACleanup, which at
  // unload would pull the library from under threads still using sockets.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}

UdpSocket UdpSocket::open() {
  startSocketLibrary();
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return UdpSocket();
  // Not inherited by processes the host starts (SOCK_CLOEXEC on POSIX).
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // Windows reports an ICMP "port unreachable" caused by an earlier sendto as
  // a WSAECONNRESET failure of the next recvfrom on the same socket; a
  // datagram socket on POSIX never sees it. Switched off to behave alike.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  return UdpSocket(static_cast<std::intptr_t>(s));
}

bool UdpSocket::prepareWellKnownPort() {
  // SO_REUSEADDR on Windows would let any later socket bind the same port and
  // take its datagrams silently; exclusive use makes that bind fail instead.
  const BOOL on = TRUE;
  return valid() && setOption(handle_, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
}

bool UdpSocket::setBroadcast(bool on) {
  const BOOL v = on ? TRUE : FALSE;
  return valid() && setOption(handle_, SO_BROADCAST, &v, sizeof v);
}

bool UdpSocket::setReceiveTimeout(std::chrono::milliseconds timeout) {
  // Winsock takes whole milliseconds as a DWORD, not a timeval.
  const DWORD ms = static_cast<DWORD>(timeout.count());
  return valid() && setOption(handle_, SO_RCVTIMEO, &ms, sizeof ms);
}

long UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity, std::string& sender,
                        std::uint16_t* senderPort) {
  if (!valid()) return -1;
  sockaddr_in from{};
  int len = sizeof from;
  const int size = capacity > 0x7fffffff ? 0x7fffffff : static_cast<int>(capacity);
  int n = ::recvfrom(native(handle_), reinterpret_cast<char*>(buffer), size, 0,
                     reinterpret_cast<sockaddr*>(&from), &len);
  if (n == SOCKET_ERROR) {
    // A datagram larger than the buffer fills it and fails; POSIX hands over
    // the cut datagram, and so does this.
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = size;
  }
  sender = toText(from.sin_addr);
  if (senderPort) *senderPort = ntohs(from.sin_port);
  return static_cast<long>(n);
}

bool UdpSocket::sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data,
                       std::size_t size) {
  sockaddr_in to;
  if (!valid() || address.empty() || size > 0x7fffffff || !toSockaddr(address, port, to))
    return false;
  return ::sendto(native(handle_), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof to) == static_cast<int>(size);
}

void UdpSocket::interrupt() {
  if (!valid()) return;
  // Shutting down the receive side makes every later recvfrom fail at once,
  // but unlike Linux it does not wake one that is already waiting. Cancelling
  // the handle's pending I/O does: that recvfrom fails with
  // WSA_OPERATION_ABORTED. In this order a receive that starts between the
  // two calls already fails on the shutdown. The handle stays open, so a
  // receive still on its way in cannot reach a recycled handle.
  ::shutdown(native(handle_), SD_RECEIVE);
  CancelIoEx(reinterpret_cast<HANDLE>(native(handle_)), nullptr);
}

void UdpSocket::close() {
  if (valid()) ::closesocket(native(handle_));
  handle_ = kInvalid;
}

std::vector<BroadcastInterface> listBroadcastInterfaces() {
  std::vector<BroadcastInterface> out;
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> storage(16 * 1024);
  ULONG size = static_cast<ULONG>(storage.size());
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the sizing call and the next; try a few times.
  for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    result = GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) storage.resize(size);
  }
  if (result != NO_ERROR) return out;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp) continue;
    // Loopback and point-to-point links have no subnet to broadcast to.
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK || a->IfType == IF_TYPE_PPP ||
        a->IfType == IF_TYPE_TUNNEL)
      continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET) continue;
      const ULONG prefix = u->OnLinkPrefixLength;
      // /31 and /32 subnets have no broadcast address.
      if (prefix == 0 || prefix >= 31) continue;
      const in_addr addr = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr;
      const std::uint32_t hostMask = 0xffffffffu >> prefix;
      in_addr broadcast{};
      broadcast.s_addr = addr.s_addr | htonl(hostMask);
      out.push_back({utf8(a->FriendlyName), toText(addr), toText(broadcast)});
    }
  }
  return out;
}

}  // namespace mirandel
