#pragma once
// The clip's SRT caller: one receive thread that connects to the phone, hands every received
// message on, reconnects after every failure and keeps a one-line status with link statistics.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/Clock.h"
#include "base/ThreadSafety.h"
#include "video/NameLookup.h"

namespace mirandel {

// A copy of the receiver's state, taken under its mutex.
struct ReceiverStatus {
  bool connected = false;
  std::string statusText;
  double rttMs = 0;
  double recvRateMbps = 0;
  std::int64_t pktRecvTotal = 0;
  std::int64_t pktRcvLossTotal = 0;
  std::int64_t pktRcvDropTotal = 0;
  std::int64_t pktRetransTotal = 0;
  std::uint64_t reconnects = 0;     // connects made after data had already arrived since start
  std::uint64_t bytesReceived = 0;  // since start
};

class SrtReceiver {
 public:
  // Gets a pointer into the receive buffer, valid only during the call.
  using DataFn = std::function<void(const std::uint8_t* data, std::size_t size)>;
  // Told true after each connect and false after each session end.
  using StateFn = std::function<void(bool connected)>;
  // Told, before the message that follows them, that messages were lost: the library dropped
  // them because they came too late to be delivered.
  using LossFn = std::function<void()>;

  // `clock` times the statistics sampling. The SRT library is started by start() when it is not
  // running (video/SrtStartup.h).
  explicit SrtReceiver(ClockFn clock = steadyClock());
  ~SrtReceiver();
  SrtReceiver(const SrtReceiver&) = delete;
  SrtReceiver& operator=(const SrtReceiver&) = delete;

  // Stops a running session, then connects to host:port on a new receive thread. Host thread.
  // Throws std::system_error when the thread cannot be created.
  void start(std::string host, std::int32_t port, std::int32_t latencyMs, DataFn onData,
             StateFn onState, LossFn onLoss = {});

  // Idempotent; interrupts a blocking connect or receive, or the wait for a name lookup
  // (which is left to finish on its own thread), and returns when the thread has ended. Host thread
  // only, and the exit hook of video/SrtStartup.h on the thread that calls exit(): from the
  // receive thread (inside a callback) it throws std::system_error with
  // resource_deadlock_would_occur.
  void stop();

  // Any thread.
  ReceiverStatus status() const;
  bool running() const { return running_.load(); }

 private:
  void sessionLoop();
  // Returns false when a stop ended the attempt.
  bool runAttempt();
  void setState(bool connected, std::string text);
  void pause();
  void sampleStatistics(int socket);
  void closePublishedSocket();

  const ClockFn clock_;

  // Written by start() before the thread exists, read only by the receive thread after.
  std::string host_;
  std::int32_t port_ = 9010;
  std::int32_t latencyMs_ = 40;
  DataFn onData_;
  StateFn onState_;
  LossFn onLoss_;

  NameLookup lookup_;   // waited on by the receive thread, abandoned by stop()
  std::thread thread_;  // host thread only
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> socket_{-1};  // the SRT socket of the current attempt

  mutable Mutex mutex_;
  ReceiverStatus status_ GUARDED_BY(mutex_);
};

}  // namespace mirandel
