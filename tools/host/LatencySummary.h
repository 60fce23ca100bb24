#pragma once
// Order statistics of a latency series, as the run summaries print them.
#include <cstddef>
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

}  // namespace mirandel::host
