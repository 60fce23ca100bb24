#pragma once
// A fault-injecting UDP relay for one SRT path (the kernel here has no netem): it listens on
// one address for callers and forwards each caller's packets to the far side from a socket of
// the caller's own, so the far side's answers find their way back to that caller. Faults apply
// to both directions (FaultSettings.h).
//
// One thread does everything, on the steady clock: it waits in ppoll until a socket is
// readable or the next packet is due, takes every datagram waiting, and sends every packet
// whose time has come. A packet's arrival time is the kernel's receive stamp, so the delays
// count from when it reached the relay and the report's lateness includes the wake-up.
//
// Linux only: it is a test tool for namespaces of the project's own.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tools/relay/FaultSettings.h"
#include "tools/relay/RelayReport.h"

namespace mirandel::relay {

// Dotted IPv4 address and port.
struct Endpoint {
  std::string address;
  std::uint16_t port = 0;
};

// "ADDR:PORT" with a dotted IPv4 address and a port from 1 to 65535; false otherwise.
bool parseEndpoint(const std::string& text, Endpoint& out);

struct RelayOptions {
  Endpoint listen;
  Endpoint to;
  FaultSettings faults;
};

class Relay {
 public:
  Relay() = default;
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // Binds the listening socket in the calling thread's network namespace and starts the
  // relay's thread there (sockets towards the far side are opened on it). Stops a running
  // relay first. False, with a reason in `error`, when an address is not dotted IPv4 or the
  // socket cannot be bound. The fault clock (the blackout's time) starts here. Owner's thread.
  bool start(const RelayOptions& options, std::string* error = nullptr);
  // Idempotent; joins the thread. Packets still waiting are not sent. Owner's thread.
  void stop();
  // Any thread.
  RelayReport report() const;

 private:
  void run();

  RelayOptions options_;  // written by start before the thread exists
  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<bool> stopRequested_{false};
  std::thread thread_;

  mutable std::mutex mutex_;
  RelayReport report_;  // guarded by mutex_; the thread publishes it after each round
};

}  // namespace mirandel::relay
