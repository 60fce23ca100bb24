#include "base/Clock.h"

#include <atomic>
#include <chrono>

namespace mirandel {

Nanos steadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ClockFn steadyClock() { return &steadyNow; }

struct ManualClock::State {
  std::atomic<Nanos> now;
};

ManualClock::ManualClock(Nanos start) : state_(std::make_shared<State>()) { state_->now = start; }
Nanos ManualClock::now() const { return state_->now.load(); }
void ManualClock::advance(Nanos delta) { state_->now += delta; }
void ManualClock::set(Nanos t) { state_->now = t; }
ClockFn ManualClock::fn() const {
  auto s = state_;
  return [s] { return s->now.load(); };
}

}  // namespace mirandel
