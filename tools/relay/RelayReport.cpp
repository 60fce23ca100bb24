#include "tools/relay/RelayReport.h"

#include <algorithm>
#include <cstdio>

namespace mirandel::relay {
namespace {

std::string directionLine(const char* name, const DirectionCounters& c) {
  char line[320];
  std::snprintf(
      line, sizeof line,
      "relay %s: in %llu out %llu dropped %llu burst-dropped %llu duplicated %llu "
      "reordered %llu blacked-out %llu overflow %llu\n",
      name, static_cast<unsigned long long>(c.in), static_cast<unsigned long long>(c.out),
      static_cast<unsigned long long>(c.dropped), static_cast<unsigned long long>(c.burstDropped),
      static_cast<unsigned long long>(c.duplicated), static_cast<unsigned long long>(c.reordered),
      static_cast<unsigned long long>(c.blackedOut), static_cast<unsigned long long>(c.overflow));
  return line;
}

}  // namespace

void LatenessHistogram::add(Nanos lateness) {
  const Nanos micros = std::max<Nanos>(lateness, 0) / 1000;
  ++counts[static_cast<std::size_t>(std::min<Nanos>(micros, kSteps))];
  ++total;
  max = std::max(max, lateness);
}

double LatenessHistogram::percentileMs(double fraction) const {
  if (total == 0) return 0;
  const auto rank = static_cast<std::uint64_t>(fraction * static_cast<double>(total - 1));
  std::uint64_t seen = 0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    seen += counts[i];
    if (seen > rank) return static_cast<double>(i) / 1000.0;
  }
  return static_cast<double>(kSteps) / 1000.0;
}

std::string formatReport(const RelayReport& r) {
  char timing[200];
  std::snprintf(timing, sizeof timing,
                "relay timing: %llu packets sent, lateness median %.3f ms, p99 %.3f ms, max %.3f "
                "ms; %llu callers\n",
                static_cast<unsigned long long>(r.lateness.total), r.lateness.percentileMs(0.5),
                r.lateness.percentileMs(0.99), static_cast<double>(r.lateness.max) / 1e6,
                static_cast<unsigned long long>(r.callers));
  return directionLine("forward", r.forward) + directionLine("back", r.back) + timing;
}

}  // namespace mirandel::relay
