#pragma once
// A scriptable stand-in for the Mirandel phone application: listens for
// control messages on UDP 9000 (broadcasts included) and sends everything it
// says to port 9001 of the address it answers. It answers discovery itself;
// tests and later features add handlers for further addresses, inject,
// drop or delay what it sends, and inspect what it received.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/ControlMessage.h"
#include "link/UdpSocket.h"

namespace mirandel {

struct PhoneConfig {
  std::string name = "Mirandel Phone";        // "/mirandel/here" argument 0
  std::string ownText = "1.1";                // argument 1, a text of the phone's own
  std::string extra = "Mirandel";             // argument 2
  std::string identity = "phone-emulator-1";  // argument 3, the same over every route
  // Argument 4 for a reply to `asker`: "wired", "wifi", anything, or empty to
  // leave the argument out (the clip then judges by the address).
  std::function<std::string(const std::string& asker)> linkText = [](const std::string&) {
    return std::string("wifi");
  };
  std::uint16_t listenPort = 9000;
  std::uint16_t replyPort = 9001;
  std::string bindAddress;  // empty: every local address
};

class PhoneEmulator {
 public:
  // Runs on the emulator's thread for each message received on `address`.
  using Handler = std::function<void(PhoneEmulator&, const IncomingMessage&)>;
  // Decides about one outgoing message: return false to drop it.
  using SendFilter = std::function<bool(const std::string& to, const ControlMessage&)>;
  // Decides about one received message before it is recorded or handled: return false to
  // drop it, as if it never arrived. Runs on the emulator's thread.
  using ReceiveFilter = std::function<bool(const IncomingMessage&)>;

  explicit PhoneEmulator(PhoneConfig config = {});
  ~PhoneEmulator();
  PhoneEmulator(const PhoneEmulator&) = delete;
  PhoneEmulator& operator=(const PhoneEmulator&) = delete;

  // Opens the socket in the calling thread's network namespace and starts the
  // emulator's thread. False when the port cannot be bound. Owner's thread.
  bool start();
  // Stops and joins the thread. Idempotent. Owner's thread.
  void stop();

  // Handlers, keyed by address; replaces an earlier one. "/mirandel/discover"
  // has a default that answers "/mirandel/here". Any thread.
  void on(const std::string& address, Handler handler);
  // Handles every address without a handler of its own (control messages
  // whose addresses name rack effects). Any thread.
  void setFallback(Handler handler);
  // Sends `message` to replyPort of `to`, subject to the filter and delay.
  // Any thread.
  void send(const std::string& to, const ControlMessage& message);
  // Extra messages sent right after every "/mirandel/here" answer. Any thread.
  void addExtraReply(ControlMessage message);
  void setSendFilter(SendFilter filter);
  void setReceiveFilter(ReceiveFilter filter);
  void setSendDelay(std::chrono::milliseconds delay);
  // The answer to a probe from `asker`, as configured. Any thread.
  ControlMessage hereReply(const std::string& asker) const;

  // What was received, in order (decodable messages only). Any thread.
  std::vector<IncomingMessage> received() const;
  std::size_t receivedCount(const std::string& address) const;
  // Receive times (steady clock) of messages on `address`.
  std::vector<std::chrono::steady_clock::time_point> receivedTimes(
      const std::string& address) const;
  std::size_t sentCount() const;
  void clearReceived();

 private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    std::string to;
    std::vector<std::uint8_t> bytes;
  };
  void run();
  void flushDue();

  const PhoneConfig config_;
  UdpSocket socket_;  // opened by start(), then used by the thread and send()
  std::thread thread_;

  mutable std::mutex mutex_;
  bool stop_ = false;                                              // guarded by mutex_
  std::map<std::string, Handler> handlers_;                        // guarded by mutex_
  Handler fallback_;                                               // guarded by mutex_
  std::vector<ControlMessage> extraReplies_;                       // guarded by mutex_
  SendFilter filter_;                                              // guarded by mutex_
  ReceiveFilter receiveFilter_;                                    // guarded by mutex_
  std::chrono::milliseconds delay_{0};                             // guarded by mutex_
  std::vector<Pending> pending_;                                   // guarded by mutex_
  std::vector<IncomingMessage> received_;                          // guarded by mutex_
  std::vector<std::chrono::steady_clock::time_point> receivedAt_;  // guarded by mutex_
  std::size_t sent_ = 0;                                           // guarded by mutex_
};

}  // namespace mirandel
