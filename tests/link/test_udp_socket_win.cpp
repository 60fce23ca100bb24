// The Winsock side of the socket seam where Windows' rules differ from POSIX.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "link/LinkHub.h"
#include "link/UdpSocket.h"

namespace mirandel {
namespace {

// Another program's socket on the hub's receive port, asking for address
// reuse as a careless one would; true when its bind succeeds.
bool anotherProgramBindsWithReuse(std::uint16_t port) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool bound = ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  ::closesocket(s);
  return bound;
}

// Guards against the hub's receive port being shared: with SO_REUSEADDR (the POSIX habit) rather
// than exclusive use, a later program binding 9001 with SO_REUSEADDR silently takes the phones'
// replies. Under Wine as on Windows its bind must fail while the hub holds the port, not after.
TEST(UdpSocketWin, NoOtherProgramCanBindTheHubsReceivePortWhileItHoldsIt) {
  UdpSocket hub = UdpSocket::open();
  ASSERT_TRUE(hub.prepareWellKnownPort());
  ASSERT_TRUE(hub.bind(kClipControlPort));
  EXPECT_FALSE(anotherProgramBindsWithReuse(kClipControlPort));
  hub.close();
  EXPECT_TRUE(anotherProgramBindsWithReuse(kClipControlPort));
}

}  // namespace
}  // namespace mirandel
