#pragma once
// What the two socket implementations share below the seam: IPv4 addresses as the system's
// structs, and the native handle. Included only by the socket sources, never above them: it
// brings the platform's socket headers with it.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>

namespace mirandel {

#ifdef _WIN32
using NativeSocket = SOCKET;
using AddressLength = int;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
#endif

inline NativeSocket native(std::intptr_t handle) { return static_cast<NativeSocket>(handle); }

// Dotted IPv4 `address` (empty: any address) and `port` as a socket address; false when the
// text is not dotted IPv4.
bool toSockaddr(const std::string& address, std::uint16_t port, sockaddr_in& out);

// The dotted text of an address; empty when the system cannot write it.
std::string toText(const in_addr& addr);

}  // namespace mirandel
