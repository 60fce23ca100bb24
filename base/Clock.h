#pragma once
// Time throughout the plug-in: signed 64-bit nanoseconds of the monotonic clock.
// Logic with timers takes a ClockFn so tests can drive time without sleeping.
#include <cstdint>
#include <functional>
#include <memory>

namespace mirandel {

using Nanos = std::int64_t;
using ClockFn = std::function<Nanos()>;

inline constexpr Nanos kMillisecond = 1'000'000;
inline constexpr Nanos kSecond = 1'000'000'000;

// The platform's monotonic high-resolution clock. Any thread.
Nanos steadyNow();

// A ClockFn reading steadyNow.
ClockFn steadyClock();

// A hand-driven clock for tests and simulations; copies share one time.
class ManualClock {
 public:
  explicit ManualClock(Nanos start = kSecond);
  Nanos now() const;
  void advance(Nanos delta);
  void set(Nanos t);
  ClockFn fn() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace mirandel
