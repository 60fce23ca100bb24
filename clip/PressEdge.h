#pragma once
// Where a press of a host button begins. Hosts write an event parameter's 1
// on every frame while its button is held, and some write twice for one
// click; a phone command must go once per press. A press begins with a
// non-zero write after a zero write, or after no non-zero write for 250 ms
// (a host that never writes the release); it ends with a zero write or that
// silence. Host thread.
#include "base/Clock.h"

namespace mirandel {

inline constexpr Nanos kPressHoldTimeout = 250 * kMillisecond;

class PressEdge {
 public:
  // Takes one host write; true when it begins a press.
  bool begins(float value, Nanos t) {
    if (value == 0.0f) {
      held_ = false;
      return false;
    }
    const bool begun = !held_ || t - lastOnAt_ > kPressHoldTimeout;
    held_ = true;
    lastOnAt_ = t;
    return begun;
  }

 private:
  bool held_ = false;
  Nanos lastOnAt_ = 0;
};

}  // namespace mirandel
