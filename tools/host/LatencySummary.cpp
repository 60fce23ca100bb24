#include "tools/host/LatencySummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mirandel::host {

LatencySummary summarise(std::vector<double> values) {
  LatencySummary s;
  s.count = values.size();
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  // Integer arithmetic for the rank: 0.95 * n in floating point lands just above a whole
  // number for some n and would skip a rank.
  const std::size_t rank = (95 * n + 99) / 100;
  s.p95 = values[std::max<std::size_t>(rank, 1) - 1];
  s.max = values.back();
  return s;
}

std::string formatSummary(const LatencySummary& s) {
  if (s.count == 0) return "no samples";
  char line[160];
  std::snprintf(line, sizeof line,
                "median %.1f ms \xC2\xB7 p95 %.1f ms \xC2\xB7 max %.1f ms (n=%zu)", s.median, s.p95,
                s.max, s.count);
  return line;
}

}  // namespace mirandel::host
