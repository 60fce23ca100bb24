#include "link/SocketAddress.h"

#include <cstring>

#include "link/UdpSocket.h"

namespace mirandel {

bool toSockaddr(const std::string& address, std::uint16_t port, sockaddr_in& out) {
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  if (address.empty()) {
    out.sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

std::string toText(const in_addr& addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
}

bool isDottedIpv4(const std::string& text) {
  in_addr a{};
  return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

}  // namespace mirandel
