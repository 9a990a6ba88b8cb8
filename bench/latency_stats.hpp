// SPDX-License-Identifier: Apache-2.0
// Percentiles of a set of round-trip times.
#ifndef DATA_CENTER_BENCH_LATENCY_STATS_HPP_
#define DATA_CENTER_BENCH_LATENCY_STATS_HPP_

#include <cstddef>
#include <vector>

namespace bench {

struct LatencySummary {
  std::size_t count = 0;
  double min_us = 0;
  double p50_us = 0;
  double p90_us = 0;
  double p99_us = 0;
  double max_us = 0;
  double mean_us = 0;
};

// Nearest-rank percentiles: the smallest sample with at least p% of the
// samples at or below it. Sorts `samples_us`.
LatencySummary Summarize(std::vector<double> & samples_us);

// Nearest-rank percentile of sorted samples; 0 for none.
double Percentile(const std::vector<double> & sorted, double percent);

}  // namespace bench

#endif  // DATA_CENTER_BENCH_LATENCY_STATS_HPP_
