#pragma once
// Platform seam: IPv4 UDP sockets and the list of broadcast-capable
// interfaces. UdpSocketPosix.cpp implements it with BSD sockets and
// getifaddrs, UdpSocketWin.cpp with Winsock and GetAdaptersAddresses;
// UdpSocket.cpp and SocketAddress.cpp hold what reads alike on both.
// Everything above this header uses only the standard library.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirandel {

// Starts the platform's sockets library once per process (WSAStartup 2.2 on
// Windows, nothing on POSIX). It is never shut down. Any thread.
void startSocketLibrary();

// One IPv4 datagram socket with a single owner. Not copyable; movable.
// receive() may run on one thread while sendTo() and interrupt() run on
// others; open, options, bind and close belong to the owner alone.
class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // A new IPv4 datagram socket; check valid().
  static UdpSocket open();

  bool valid() const { return handle_ != kInvalid; }
  // Before bind(), for a socket that receives on a fixed, well-known port:
  // the platform's address-reuse rule for such a port. POSIX: SO_REUSEADDR,
  // so the port can be bound again at once, and shared only with sockets that
  // ask for it too. Windows: SO_EXCLUSIVEADDRUSE, because there SO_REUSEADDR
  // would let any other program bind the port later and take its datagrams
  // silently; with it, that program's bind fails instead.
  bool prepareWellKnownPort();
  bool setBroadcast(bool on);
  bool setReceiveTimeout(std::chrono::milliseconds timeout);
  // Binds to `port` on `address` (dotted IPv4; empty means any address).
  bool bind(std::uint16_t port, const std::string& address = {});
  // The locally bound port, 0 when unknown.
  std::uint16_t localPort() const;

  // Waits for one datagram (up to the receive time-out). Returns its size, or
  // -1 on time-out or error. `sender` gets the source's dotted text.
  long receive(std::uint8_t* buffer, std::size_t capacity, std::string& sender,
               std::uint16_t* senderPort = nullptr);
  // Sends one datagram to dotted IPv4 `address`; false when the address is not
  // dotted IPv4 text or the system refused.
  bool sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data,
              std::size_t size);
  // Ends a receive() under way on another thread and makes later ones return
  // at once; the handle stays open (no reuse race), close() releases it.
  void interrupt();
  void close();

 private:
  static constexpr std::intptr_t kInvalid = -1;
  explicit UdpSocket(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kInvalid;
};

// An up, broadcast-capable IPv4 interface (loopback and point-to-point links
// have no broadcast address and are not listed).
struct BroadcastInterface {
  std::string name;
  std::string address;    // the interface's own dotted IPv4 address
  std::string broadcast;  // its subnet's directed broadcast address
  friend bool operator==(const BroadcastInterface&, const BroadcastInterface&) = default;
};

// Every up, broadcast-capable IPv4 interface of the calling thread's network
// namespace, in the system's order. Any thread.
std::vector<BroadcastInterface> listBroadcastInterfaces();

// True when `text` is dotted IPv4 text as the platform reads it.
bool isDottedIpv4(const std::string& text);

}  // namespace mirandel
