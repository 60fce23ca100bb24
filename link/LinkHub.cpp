#include "link/LinkHub.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <thread>
#include <utility>

#include "base/Log.h"
#include "base/ThreadSafety.h"
#include "link/ControlCodec.h"
#include "link/DeviceTable.h"

namespace mirandel {
namespace {

constexpr Nanos kSearchingProbeInterval = 3 * kSecond;
constexpr Nanos kIdleProbeInterval = 10 * kSecond;
constexpr Nanos kDescribeRepeatWindow = 2 * kSecond;
// Probe rounds closer together than this (many clips searching, a Rescan) share one list of
// interfaces; a round after a longer pause lists them again, so a new link is probed.
constexpr Nanos kInterfaceListMaxAge = kSecond;
constexpr std::size_t kDescribeKeysBeforePruning = 256;
constexpr std::size_t kReceiveBufferSize = 65536;
const char* const kLimitedBroadcast = "255.255.255.255";

// One subscriber's queue. Guarded by the hub mutex like every table.
struct Inbox {
  std::deque<IncomingMessage> messages;
  std::size_t bytes = 0;  // footprint() of everything in messages
  // Nothing is queued before the subscriber first drains: the prototype is
  // made by the same factory as every clip and subscribes like one, but it
  // is never asked to drain, so without this it would hold a full inbox for
  // the life of the process.
  bool open = false;

  // Appends a copy, first dropping the oldest messages until it fits both
  // bounds. A message larger than the byte bound on its own is not kept.
  void push(const IncomingMessage& m, std::size_t cost, std::size_t maxMessages,
            std::size_t maxBytes) {
    if (cost > maxBytes || maxMessages == 0) return;
    while (!messages.empty() && (messages.size() >= maxMessages || bytes + cost > maxBytes)) {
      bytes -= footprint(messages.front());
      messages.pop_front();
    }
    messages.push_back(m);
    bytes += cost;
  }
};

}  // namespace

// Teardown design. The state lives in a Core shared by the LinkHub facade and
// the worker thread. Final teardown (shutdown(), the destructor, the unload
// hook) never joins the worker: joining a thread from a library's unload path
// deadlocks on Windows (the loader lock is held while the exiting thread needs
// it). Instead it only sets `stop`, wakes the blocked receive, forgets the
// subscribers and detaches the worker; the worker notices within one loop
// turn, drops its reference and, being the last owner, destroys the tables and
// closes the sockets itself. Nothing is freed while the worker can still reach
// it, and that teardown never waits for the worker.
// The worker may therefore still be running when the host unloads the
// library, so the library never leaves memory before the process ends: linked
// with -z nodelete on Linux, pinned by its DllMain on Windows.
// The one wait is stopWhenUnused(), called from a host call (never under the
// loader lock) once no clip is left: it joins the worker, so that a
// de-initialised plug-in leaves no thread of the hub behind, and puts the hub
// back as it was before its first use.
struct LinkHub::Core {
  explicit Core(LinkHubOptions o)
      : options(std::move(o)),
        devices({options.maxDevices, options.maxRoutesPerDevice}),
        probe(encode(ControlMessage{"/mirandel/discover", {}})) {}

  const LinkHubOptions options;

  // Created once in startLocked(), before the worker exists, and never
  // reassigned; afterwards the handles are only used (any thread) and closed
  // by ~Core.
  UdpSocket receiveSocket;
  UdpSocket sendSocket;

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> turns{0};
  std::atomic<bool> receiveOpen{false};

  Mutex mutex;
  ConditionVariable changed;  // with mutex: callback finished, stop set, probe asked for
  bool started GUARDED_BY(mutex) = false;
  int nextId GUARDED_BY(mutex) = 1;
  std::map<int, Inbox> inboxes GUARDED_BY(mutex);
  std::map<int, std::function<void()>> callbacks GUARDED_BY(mutex);
  std::map<int, bool> searching GUARDED_BY(mutex);
  Nanos lastProbe GUARDED_BY(mutex) = 0;
  bool probeDue GUARDED_BY(mutex) = true;
  bool probeAsked GUARDED_BY(mutex) = false;  // by probeNow
  DeviceTable devices GUARDED_BY(mutex);
  std::map<std::string, Nanos> describeSends GUARDED_BY(mutex);
  int runningCallback GUARDED_BY(mutex) = 0;  // 0 = none
  std::thread::id workerId GUARDED_BY(mutex);
  // Joinable from startLocked() until shutdown() detaches it or
  // stopWhenUnused() takes it to join it.
  std::thread worker GUARDED_BY(mutex);

  const std::vector<std::uint8_t> probe;

  // The directed-broadcast interfaces as last listed. Worker thread only (and
  // stopWhenUnused once the worker has ended).
  std::vector<BroadcastInterface> interfaces;
  Nanos interfacesListedAt = 0;
  bool interfacesListed = false;

  void log(const std::string& line) const {
    if (options.log) options.log(line);
  }

  // Opens the sockets and starts the worker once. Host thread.
  // Returns a log line to write after the mutex is released, or empty.
  std::string startLocked(const std::shared_ptr<Core>& self) REQUIRES(mutex);
  // Worker thread.
  static void run(std::shared_ptr<Core> self);
  void turn(std::vector<std::uint8_t>& buffer,
            std::vector<std::pair<int, std::function<void()>>>& wakes) EXCLUDES(mutex);
  // One probe round: the limited broadcast, then a directed broadcast on every
  // broadcast-capable interface. Worker thread.
  void sendProbe() EXCLUDES(mutex);
  // Lists the interfaces again unless the list is fresh. Worker thread.
  void refreshInterfaces();
};

std::string LinkHub::Core::startLocked(const std::shared_ptr<Core>& self) {
  if (started || stop) return {};
  started = true;
  std::string problem;
  receiveSocket = UdpSocket::open();
  const bool bound = receiveSocket.valid() && receiveSocket.prepareWellKnownPort() &&
                     receiveSocket.bind(options.receivePort) &&
                     receiveSocket.setReceiveTimeout(options.receiveTimeout);
  if (!bound) {
    // Without this socket no phone can answer. Say so once, plainly; the
    // worker then paces itself without it and sending still works.
    receiveSocket.close();
    problem = "Mirandel: cannot receive on UDP port " + std::to_string(options.receivePort) +
              " (is another program using it?); phones will not be found";
  }
  receiveOpen = bound;
  sendSocket = UdpSocket::open();
  sendSocket.setBroadcast(true);
  worker = std::thread(&Core::run, self);
  workerId = worker.get_id();
  return problem;
}

void LinkHub::Core::run(std::shared_ptr<Core> self) {
  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  std::vector<std::pair<int, std::function<void()>>> wakes;
  while (!self->stop) self->turn(buffer, wakes);
  // Dropping the last reference here (normally) destroys the tables and
  // closes the sockets on this thread.
}

void LinkHub::Core::turn(std::vector<std::uint8_t>& buffer,
                         std::vector<std::pair<int, std::function<void()>>>& wakes) {
  std::string sender;
  long size = -1;
  if (receiveOpen) {
    size = receiveSocket.receive(buffer.data(), buffer.size(), sender);
  } else {
    // No receive socket: wait as long as a receive would, so the loop still
    // paces the probes and notices stop, without spinning.
    MutexLock lock(mutex);
    changed.waitFor(lock, options.receiveTimeout,
                    [&]() REQUIRES(mutex) { return stop.load() || probeAsked; });
  }
  ++turns;
  if (stop) return;

  bool sendProbeNow = false;
  {
    MutexLock lock(mutex);
    bool anySearching = false;
    for (const auto& [id, flag] : searching) anySearching = anySearching || flag;
    if (!callbacks.empty()) {
      const Nanos now = options.clock();
      const Nanos interval = anySearching ? kSearchingProbeInterval : kIdleProbeInterval;
      if (probeDue || now - lastProbe > interval) {
        probeDue = false;
        lastProbe = now;
        sendProbeNow = true;
      }
    }
    // Asked for, also without subscribers; the periodic timing is left as it is.
    if (probeAsked) {
      probeAsked = false;
      sendProbeNow = true;
    }
  }
  if (sendProbeNow) sendProbe();

  if (size <= 0) return;
  ControlMessage message;
  if (!decode(buffer.data(), static_cast<std::size_t>(size), message)) return;

  wakes.clear();
  {
    MutexLock lock(mutex);
    // Filed before queueing, so a clip handling this reply already finds the
    // phone in listDevices().
    if (message.address == "/mirandel/here") devices.fold(sender, message.args, options.clock());
    IncomingMessage incoming{std::move(sender), std::move(message.address),
                             std::move(message.args)};
    const std::size_t cost = footprint(incoming);
    for (auto& [id, inbox] : inboxes) {
      if (inbox.open) inbox.push(incoming, cost, options.inboxLimit, options.inboxByteLimit);
    }
    for (const auto& [id, wake] : callbacks) wakes.emplace_back(id, wake);
  }
  for (auto& [id, wake] : wakes) {
    {
      MutexLock lock(mutex);
      // A clip that unsubscribed since the copy was made must not be called:
      // its object may already be gone.
      if (stop || !callbacks.count(id)) continue;
      runningCallback = id;
    }
    try {
      wake();
    } catch (...) {
      // A wake-up callback has nothing to report; the worker must survive it.
    }
    {
      MutexLock lock(mutex);
      runningCallback = 0;
    }
    changed.notifyAll();
  }
  wakes.clear();
}

void LinkHub::Core::sendProbe() {
  sendSocket.sendTo(kLimitedBroadcast, options.phonePort, probe.data(), probe.size());
  // The limited broadcast leaves by one interface only (the default route's,
  // or none without one), so a phone on any other link — typically the wired
  // one — would never hear it. Every subnet gets its own directed broadcast.
  std::vector<std::string> sent{kLimitedBroadcast};
  refreshInterfaces();
  for (const BroadcastInterface& itf : interfaces) {
    if (std::find(sent.begin(), sent.end(), itf.broadcast) != sent.end()) continue;
    sent.push_back(itf.broadcast);
    sendSocket.sendTo(itf.broadcast, options.phonePort, probe.data(), probe.size());
  }
}

void LinkHub::Core::refreshInterfaces() {
  if (!options.listInterfaces) return;
  const Nanos now = options.clock();
  if (interfacesListed && now - interfacesListedAt <= kInterfaceListMaxAge) return;
  interfaces = options.listInterfaces();
  interfacesListedAt = now;
  interfacesListed = true;
}

LinkHub& LinkHub::instance() {
  // Intentionally never destroyed: calls that race with unload then find a
  // stopped hub rather than freed memory. The unload hook only stops it.
  static LinkHub* const hub = [] {
    startSocketLibrary();
    LinkHubOptions options;
    options.log = [](const std::string& line) { hostLog(line); };
    return new LinkHub(std::move(options));
  }();
  // Linux: the library stays loaded (-z nodelete), so this runs at exit(),
  // while the worker still runs; it stops the worker before the process's
  // statics go. Not on Windows: the DLL is pinned, so its static destructors
  // run only as the process ends, after Windows has already ended every other
  // thread. There is no worker left to stop then, and taking the hub's lock
  // could wait forever if the worker was ended while holding it.
#ifndef _WIN32
  struct UnloadHook {
    ~UnloadHook() { hub->shutdown(); }
  };
  static UnloadHook hook;
#endif
  return *hub;
}

LinkHub::LinkHub(LinkHubOptions options) : core_(std::make_shared<Core>(std::move(options))) {}

LinkHub::~LinkHub() { shutdown(); }

void LinkHub::shutdown() {
  {
    MutexLock lock(core_->mutex);
    core_->stop = true;
    core_->callbacks.clear();
    core_->inboxes.clear();
    core_->searching.clear();
    if (core_->worker.joinable()) core_->worker.detach();
  }
  core_->changed.notifyAll();
  core_->receiveSocket.interrupt();
}

bool LinkHub::stopWhenUnused() {
  std::thread worker;
  {
    MutexLock lock(core_->mutex);
    // Shut down for good (its worker, if any, left to end on its own), or
    // still in use.
    if (core_->stop || !core_->callbacks.empty()) return false;
    if (!core_->started) return true;
    // From the worker itself (a wake-up callback): it cannot wait for itself.
    if (core_->workerId == std::this_thread::get_id()) return false;
    core_->stop = true;
    worker = std::move(core_->worker);
  }
  core_->changed.notifyAll();
  core_->receiveSocket.interrupt();
  // Not joinable when starting the worker failed (startLocked had thrown after marking the hub
  // started): there is nothing to wait for, and the hub must still go back to its first state.
  if (worker.joinable()) worker.join();

  // Back to the state before the first start; no other thread can reach the
  // sockets or tables now.
  Core& c = *core_;
  MutexLock lock(c.mutex);
  c.receiveSocket.close();
  c.sendSocket.close();
  c.receiveOpen = false;
  c.inboxes.clear();
  c.searching.clear();
  c.lastProbe = 0;
  c.probeDue = true;
  c.probeAsked = false;
  c.interfaces.clear();
  c.interfacesListed = false;
  c.devices = DeviceTable({c.options.maxDevices, c.options.maxRoutesPerDevice});
  c.describeSends.clear();
  c.workerId = {};
  c.started = false;
  c.stop = false;
  return true;
}

int LinkHub::subscribe(std::function<void()> wake) {
  std::string problem;
  int id;
  {
    MutexLock lock(core_->mutex);
    problem = core_->startLocked(core_);
    id = core_->nextId++;
    if (!core_->stop) {
      core_->inboxes[id] = Inbox{};
      core_->callbacks[id] = std::move(wake);
    }
  }
  if (!problem.empty()) core_->log(problem);
  return id;
}

void LinkHub::unsubscribe(int id) {
  MutexLock lock(core_->mutex);
  core_->inboxes.erase(id);
  core_->callbacks.erase(id);
  core_->searching.erase(id);
  // A callback of this id copied before the erase may be running right now;
  // the caller may free its object as soon as we return. (Unsubscribing from
  // inside one's own callback cannot wait for itself.)
  core_->changed.wait(lock, [&]() REQUIRES(core_->mutex) {
    return core_->runningCallback != id || std::this_thread::get_id() == core_->workerId;
  });
}

void LinkHub::setSearching(int id, bool searching) {
  MutexLock lock(core_->mutex);
  core_->searching[id] = searching;
  // A flag rather than resetting the last-probe time to 0: "now - 0" is not
  // yet past 3 s while the monotonic clock itself reads less than that.
  if (searching) core_->probeDue = true;
}

std::vector<IncomingMessage> LinkHub::drainInbox(int id) {
  std::vector<IncomingMessage> out;
  MutexLock lock(core_->mutex);
  auto it = core_->inboxes.find(id);
  if (it == core_->inboxes.end()) return out;
  Inbox& inbox = it->second;
  inbox.open = true;
  out.reserve(inbox.messages.size());
  for (IncomingMessage& m : inbox.messages) out.push_back(std::move(m));
  inbox.messages.clear();
  inbox.bytes = 0;
  return out;
}

std::vector<DeviceRecord> LinkHub::listDevices() {
  MutexLock lock(core_->mutex);
  return core_->devices.list();
}

// The worker sends the round at its next turn, within one receive time-out: listing the
// interfaces for it is no work for the host's thread.
void LinkHub::probeNow() {
  std::string problem;
  {
    MutexLock lock(core_->mutex);
    problem = core_->startLocked(core_);
    core_->probeAsked = true;
  }
  // A worker without a receive socket waits on this instead of a receive.
  core_->changed.notifyAll();
  if (!problem.empty()) core_->log(problem);
}

void LinkHub::sendTo(const std::string& destination, const ControlMessage& message) {
  if (destination.empty()) return;
  std::string problem;
  {
    MutexLock lock(core_->mutex);
    problem = core_->startLocked(core_);
  }
  if (!problem.empty()) core_->log(problem);
  if (message.address == "/mirandel/describe") {
    std::string key = destination;
    for (const ControlArg& arg : message.args) {
      key += '|';
      key += arg.text;
      key += '|';
      key += std::to_string(arg.intValue);
    }
    MutexLock lock(core_->mutex);
    const Nanos now = core_->options.clock();
    auto it = core_->describeSends.find(key);
    if (it != core_->describeSends.end() && now - it->second < kDescribeRepeatWindow) return;
    if (core_->describeSends.size() >= kDescribeKeysBeforePruning) {
      // Only keys inside the window still matter; the rest would only grow.
      std::erase_if(core_->describeSends,
                    [&](const auto& entry) { return now - entry.second >= kDescribeRepeatWindow; });
    }
    core_->describeSends[key] = now;
  }
  const std::vector<std::uint8_t> bytes = encode(message);
  core_->sendSocket.sendTo(destination, core_->options.phonePort, bytes.data(), bytes.size());
}

std::uint64_t LinkHub::workerTurns() const { return core_->turns; }
bool LinkHub::receiving() const { return core_->receiveOpen; }

LinkHub::InboxLoad LinkHub::inboxLoad(int id) const {
  MutexLock lock(core_->mutex);
  auto it = core_->inboxes.find(id);
  if (it == core_->inboxes.end()) return {};
  return {it->second.messages.size(), it->second.bytes};
}

}  // namespace mirandel
