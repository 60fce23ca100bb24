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

void LatencyHistogram::add(double ms) {
  max_ = count_ == 0 ? ms : std::max(max_, ms);
  ++count_;
  const double step = std::floor(ms / kStepMs);
  if (step < 0) {
    below_.push_back(ms);
  } else if (step >= static_cast<double>(kSteps)) {
    above_.push_back(ms);
  } else {
    ++counts_[static_cast<std::size_t>(step)];
  }
}

LatencySummary LatencyHistogram::summary() const {
  LatencySummary s;
  s.count = count_;
  if (count_ == 0) return s;
  std::vector<double> below = below_, above = above_;
  std::sort(below.begin(), below.end());
  std::sort(above.begin(), above.end());
  // The value of rank r (from 0) in sorted order.
  auto atRank = [&](std::size_t r) {
    if (r < below.size()) return below[r];
    r -= below.size();
    for (std::size_t i = 0; i < kSteps; ++i) {
      if (r < counts_[i]) return (static_cast<double>(i) + 0.5) * kStepMs;
      r -= counts_[i];
    }
    return above[r];
  };
  const std::size_t n = count_;
  s.median = n % 2 ? atRank(n / 2) : (atRank(n / 2 - 1) + atRank(n / 2)) / 2;
  const std::size_t rank = (95 * n + 99) / 100;  // as summarise() takes it
  s.p95 = atRank(std::max<std::size_t>(rank, 1) - 1);
  s.max = max_;
  return s;
}

}  // namespace mirandel::host
