// The three ways bench_client sends requests: a measured sequential run, a
// fixed-duration run for throughput, and the wait for a node's first answer.
#ifndef DATA_CENTER_BENCH_REQUEST_LOOP_HPP_
#define DATA_CENTER_BENCH_REQUEST_LOOP_HPP_

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "client_options.hpp"
#include "service_caller.hpp"

namespace bench {

struct LoopResult {
  bool ok = true;
  std::string error;
  std::vector<double> samples_us;  // latency: one round trip per measured request
  long answered = 0;               // measured answers
  long lost = 0;                   // throughput with allow_lost: never answered
  double seconds = 0;              // wall time of the measured part
  size_t request_bytes = 0;        // payload of the first command's requests
  size_t reply_bytes = 0;          // payload of the first command's answers
  long attempts = 0;               // first-answer: requests sent
  int64_t answered_at_ns = 0;      // first-answer: CLOCK_MONOTONIC at the answer
};

LoopResult RunLatency(ServiceCaller & caller, const ClientOptions & options);
// Prints "ready", then waits for a line on `go` before it starts sending.
LoopResult RunThroughput(ServiceCaller & caller, const ClientOptions & options, std::istream & go);
// Prints "waiting" at once; the service may appear only later.
LoopResult RunFirstAnswer(ServiceCaller & caller, const ClientOptions & options);

// CLOCK_MONOTONIC in nanoseconds, comparable across processes.
int64_t MonotonicNs();

}  // namespace bench

#endif  // DATA_CENTER_BENCH_REQUEST_LOOP_HPP_
