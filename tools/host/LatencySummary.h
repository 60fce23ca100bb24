#pragma once
// Order statistics of a latency series, as the run summaries print them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirandel::host {

struct LatencySummary {
  std::size_t count = 0;
  double median = 0;  // mean of the two middle values for an even count
  double p95 = 0;     // nearest rank: the smallest value with at least 95 % at or below it
  double max = 0;
};

// Zero count and zero figures for an empty series.
LatencySummary summarise(std::vector<double> values);

// "median 52.1 ms · p95 60.3 ms · max 71.0 ms (n=512)", or "no samples".
std::string formatSummary(const LatencySummary& s);

// The same figures for a series too long to keep, in fixed memory: values from 0 to 2 s are
// counted in 0.1 ms steps and stand for the middle of their step; the rare ones outside are
// kept as they are, and so is the largest. A soak's memory figure must not grow with the
// figures it takes.
class LatencyHistogram {
 public:
  void add(double ms);
  LatencySummary summary() const;

 private:
  static constexpr double kStepMs = 0.1;
  static constexpr std::size_t kSteps = 20000;
  std::vector<std::uint32_t> counts_ = std::vector<std::uint32_t>(kSteps);
  std::vector<double> below_, above_;  // outside the counted range
  std::size_t count_ = 0;
  double max_ = 0;
};

}  // namespace mirandel::host
