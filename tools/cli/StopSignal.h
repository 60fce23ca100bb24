#pragma once
// The command-line tools run until interrupted: SIGINT or SIGTERM (Ctrl-C, a test's kill) asks
// the main loop to end, so that it still prints its counters and closes its sockets.
#include <atomic>
#include <csignal>

namespace mirandel::cli {

// Set by the signal handler; a lock-free atomic is what a handler may write.
inline std::atomic<bool> gStopRequested{false};

// Main thread, before the loop starts.
inline void stopOnSignals() {
  auto onSignal = [](int) { gStopRequested = true; };
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
}

// Any thread: whether a stop signal has arrived.
inline bool stopRequested() { return gStopRequested; }

}  // namespace mirandel::cli
