#pragma once
// How a host compares the phone emulator's stamps with its own clock. A stamp carries the
// phone's steady clock. A Linux host on the phone's machine reads the very same clock
// (CLOCK_MONOTONIC). A Windows host under Wine does not: Wine's QueryPerformanceCounter, and
// with it the host's steady clock, follows CLOCK_MONOTONIC_RAW, which parts from
// CLOCK_MONOTONIC by every frequency correction the kernel has applied since boot (on a
// machine up for hours, a fraction of a second, and growing). The system clock is shared
// exactly (Wine reads CLOCK_REALTIME), so the phone side's steady-minus-system offset carries
// its stamps over to any process on the machine.
#include <cstdint>

namespace mirandel::host {

// The calling process's steady clock minus its system clock, in microseconds: the reading
// with the tightest bracket of a few. Any thread.
std::int64_t steadyMinusSystemMicros();

// The system clock now, in microseconds since its epoch. Any thread.
std::int64_t systemMicros();

}  // namespace mirandel::host
