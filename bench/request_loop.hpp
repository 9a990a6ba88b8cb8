// SPDX-License-Identifier: Apache-2.0
// The three ways bench_client sends requests: a measured sequential run, a
// fixed-duration run for throughput, and the wait for a node's first answer.
#ifndef DATA_CENTER_BENCH_REQUEST_LOOP_HPP_
#define DATA_CENTER_BENCH_REQUEST_LOOP_HPP_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "client_options.hpp"
#include "service_caller.hpp"

namespace bench {

// What one server answered in a run.
struct ArmResult {
  std::vector<double> samples_us;                    // latency: measured round trips
  std::map<int32_t, std::vector<double>> by_cmd_us;  // the same, per command
  long answered = 0;                                 // measured answers
  size_t request_bytes = 0;                          // payload of the first command's requests
  size_t reply_bytes = 0;                            // payload of the first command's answers
};

struct LoopResult {
  bool ok = true;
  std::string error;
  ArmResult main;     // the service under test
  ArmResult compare;  // latency with --compare-service
  bool has_compare = false;
  long lost = 0;               // throughput with allow_lost: never answered
  long slow = 0;               // throughput: answered, but after more than slow_ms
  std::vector<long> lost_at;   // throughput: index of each lost request in this client's sequence
  double seconds = 0;          // wall time of the measured part
  double cpu_seconds = 0;      // this process's CPU time (user + system) in the measured part
  long attempts = 0;           // first-answer: requests sent
  int64_t answered_at_ns = 0;  // first-answer: CLOCK_MONOTONIC at the answer
  int64_t matched_at_ns = 0;   // first-answer: CLOCK_MONOTONIC when the service was first seen
};

// `compare` may be null.
LoopResult RunLatency(ServiceCaller & caller, ServiceCaller * compare, const ClientOptions & options);
// Prints "ready", then waits for a line on `go` before it starts sending.
LoopResult RunThroughput(ServiceCaller & caller, const ClientOptions & options, std::istream & go);
// Prints "waiting" at once; the service may appear only later.
LoopResult RunFirstAnswer(ServiceCaller & caller, const ClientOptions & options);

// CLOCK_MONOTONIC in nanoseconds, comparable across processes.
int64_t MonotonicNs();
// CPU time of this process so far, user and system, in seconds.
double ProcessCpuSeconds();

}  // namespace bench

#endif  // DATA_CENTER_BENCH_REQUEST_LOOP_HPP_
