// SPDX-License-Identifier: Apache-2.0
#include "latency_stats.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace bench {

double Percentile(const std::vector<double> & sorted, double percent) {
  if (sorted.empty()) {
    return 0;
  }
  const double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return sorted[std::min(index, sorted.size() - 1)];
}

LatencySummary Summarize(std::vector<double> & samples_us) {
  LatencySummary summary;
  summary.count = samples_us.size();
  if (samples_us.empty()) {
    return summary;
  }
  std::sort(samples_us.begin(), samples_us.end());
  summary.min_us = samples_us.front();
  summary.max_us = samples_us.back();
  summary.p50_us = Percentile(samples_us, 50);
  summary.p90_us = Percentile(samples_us, 90);
  summary.p99_us = Percentile(samples_us, 99);
  summary.mean_us =
      std::accumulate(samples_us.begin(), samples_us.end(), 0.0) / static_cast<double>(samples_us.size());
  return summary;
}

}  // namespace bench
