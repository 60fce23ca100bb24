#pragma once
// What the relay reports: each direction's counters and how late packets left against the time
// they were due, which with no fault set is the relay's own added latency (kernel receive time
// to the send call's return).
#include <array>
#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "tools/relay/Impairment.h"

namespace mirandel::relay {

// Lateness in 1 µs steps up to 10 ms, and everything later in the last step.
struct LatenessHistogram {
  static constexpr std::size_t kSteps = 10000;
  std::array<std::uint32_t, kSteps + 1> counts{};
  std::uint64_t total = 0;
  Nanos max = 0;

  void add(Nanos lateness);
  // The lateness below which `fraction` of the packets left, in milliseconds (to 1 µs).
  double percentileMs(double fraction) const;
};

struct RelayReport {
  DirectionCounters forward;  // from callers at the listening address to the far side
  DirectionCounters back;     // the far side's answers, back to their callers
  std::uint64_t callers = 0;  // caller addresses seen
  LatenessHistogram lateness;
};

// The report as text, one line per direction and one for the timing:
//   relay forward: in N out N dropped N burst-dropped N duplicated N reordered N blacked-out N
//   overflow N
//   relay back: (the same)
//   relay timing: N packets sent, lateness median X ms, p99 X ms, max X ms; N callers
std::string formatReport(const RelayReport& report);

}  // namespace mirandel::relay
