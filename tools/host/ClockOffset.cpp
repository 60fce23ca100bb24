#include "tools/host/ClockOffset.h"

#include <chrono>
#include <limits>

namespace mirandel::host {

namespace {

template <typename Clock>
std::int64_t micros(typename Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

std::int64_t steadyMinusSystemMicros() {
  using Steady = std::chrono::steady_clock;
  using System = std::chrono::system_clock;
  // The steady reading sits between two system readings; being preempted between them
  // widens the bracket, so the narrowest of a few wins.
  std::int64_t best = 0;
  std::int64_t narrowest = std::numeric_limits<std::int64_t>::max();
  for (int i = 0; i < 8; ++i) {
    const std::int64_t before = micros<System>(System::now());
    const std::int64_t steady = micros<Steady>(Steady::now());
    const std::int64_t after = micros<System>(System::now());
    if (after - before < narrowest) {
      narrowest = after - before;
      best = steady - (before + (after - before) / 2);
    }
  }
  return best;
}

std::int64_t systemMicros() {
  return micros<std::chrono::system_clock>(std::chrono::system_clock::now());
}

}  // namespace mirandel::host
