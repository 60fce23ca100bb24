#pragma once
// The process's single owner of the control channel: the two UDP sockets, the
// network worker, every clip's inbox and wake-up callback, the device table
// and the describe de-duplication.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/LinkPort.h"
#include "link/UdpSocket.h"
#include "base/Clock.h"

namespace mirandel {

inline constexpr std::uint16_t kPhoneControlPort = 9000;
inline constexpr std::uint16_t kClipControlPort = 9001;

struct LinkHubOptions {
  std::uint16_t receivePort = kClipControlPort;
  std::uint16_t phonePort = kPhoneControlPort;
  ClockFn clock = steadyClock();
  // Host log lines ("Mirandel: ..."); may be empty. Called on any thread,
  // never with the hub lock held.
  std::function<void(const std::string&)> log;
  // The interfaces that get a directed-broadcast probe. Called on the
  // network worker only: on Windows it can take long with many virtual
  // adapters.
  std::function<std::vector<BroadcastInterface>()> listInterfaces = listBroadcastInterfaces;
  std::chrono::milliseconds receiveTimeout{250};
  // A clip that stops draining must not grow without limit: beyond either
  // bound the oldest messages go. Bytes as counted by footprint().
  std::size_t inboxLimit = 4096;
  std::size_t inboxByteLimit = 4 << 20;
  std::size_t maxDevices = 64;
  std::size_t maxRoutesPerDevice = 16;
};

class LinkHub final : public LinkPort {
 public:
  // The process-wide hub, created on first use (also when first calls race).
  // It lives until the library is unloaded; its worker runs from the first
  // clip on until the plug-in is de-initialised with no clip left
  // (stopWhenUnused), or else until unload. Any thread.
  static LinkHub& instance();

  // A private hub (tests, tools). Opens nothing until the first subscribe or
  // probeNow.
  explicit LinkHub(LinkHubOptions options = {});
  // Stops the worker without waiting for it (see LinkHub.cpp); afterwards no
  // callback starts. Owner's thread.
  ~LinkHub() override;
  LinkHub(const LinkHub&) = delete;
  LinkHub& operator=(const LinkHub&) = delete;

  int subscribe(std::function<void()> wake) override;
  void unsubscribe(int id) override;
  void setSearching(int id, bool searching) override;
  std::vector<IncomingMessage> drainInbox(int id) override;
  std::vector<DeviceRecord> listDevices() override;
  void probeNow() override;
  void sendTo(const std::string& destination, const ControlMessage& message) override;

  // Sets stop, wakes the worker and forgets every subscriber, for good; the
  // worker frees the hub's state when it ends, and nothing waits for it.
  // Idempotent. Any thread.
  void shutdown();

  // When no clip is subscribed: stops the worker, waits until it has ended and
  // closes the sockets and forgets the devices, so that the hub is as it was
  // before its first use; the next subscribe, probeNow or sendTo starts it
  // again. Answers false and changes nothing while a clip is subscribed, and
  // after shutdown(). Host thread, while no other call on this hub runs; never
  // from a wake-up callback, and never under a loader lock (it joins a thread).
  bool stopWhenUnused();

  // Diagnostics for tests: how many times the worker has gone round its loop,
  // whether the receive socket is open, and what an id's inbox holds now.
  std::uint64_t workerTurns() const;
  bool receiving() const;
  struct InboxLoad {
    std::size_t messages = 0;
    std::size_t bytes = 0;  // the sum of the queued messages' footprint()
  };
  InboxLoad inboxLoad(int id) const;

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace mirandel
