// The parts of the UDP socket seam that read alike on every platform: ownership of the handle,
// binding and the bound port.
#include "link/UdpSocket.h"

#include "link/SocketAddress.h"

namespace mirandel {

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : handle_(other.handle_) {
  other.handle_ = kInvalid;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = kInvalid;
  }
  return *this;
}

bool UdpSocket::bind(std::uint16_t port, const std::string& address) {
  sockaddr_in sa;
  if (!valid() || !toSockaddr(address, port, sa)) return false;
  return ::bind(native(handle_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

std::uint16_t UdpSocket::localPort() const {
  sockaddr_in sa{};
  AddressLength len = sizeof sa;
  if (!valid() || ::getsockname(native(handle_), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return 0;
  return ntohs(sa.sin_port);
}

}  // namespace mirandel
