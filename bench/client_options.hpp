// SPDX-License-Identifier: Apache-2.0
// Command line of bench_client.
#ifndef DATA_CENTER_BENCH_CLIENT_OPTIONS_HPP_
#define DATA_CENTER_BENCH_CLIENT_OPTIONS_HPP_

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class Mode { kLatency, kThroughput, kFirstAnswer };

// One command of the request mix and the result code its answers must carry.
struct PlannedCommand {
  int32_t cmd = 0;
  int32_t expected_code = 0;
};

struct ClientOptions {
  Mode mode = Mode::kLatency;
  std::string service = "robot_status_query";
  // Sent in turn, one request each.
  std::vector<PlannedCommand> commands;
  // Every request carries a station list of this many poses (-1: no payload).
  int poses = -1;
  // Latency: requests measured, and unmeasured ones sent first.
  long count = 1000;
  long warmup = 100;
  // Latency: stop early after this long; throughput: run this long.
  double seconds = 30.0;
  // How long one request may wait for its answer before the run fails.
  long timeout_ms = 5000;
  long service_wait_ms = 20000;
  // Throughput: an unanswered request is counted as lost and the run goes
  // on, instead of failing it.
  bool allow_lost = false;
  // Throughput: answers slower than this are counted as slow.
  long slow_ms = 200;
  // Latency: a second server asked the same requests in alternating blocks,
  // so that both see the same background load. It must answer code 0.
  std::string compare_service;
  long block = 50;
  // Check that answers decode as the node's messages, with these contents.
  bool validate = false;
  int expect_poses = -1;
  std::string expect_map;
};

// False with a message in `error` on a bad command line.
bool ParseClientOptions(int argc, char ** argv, ClientOptions & options, std::string & error);

std::string ClientUsage();

}  // namespace bench

#endif  // DATA_CENTER_BENCH_CLIENT_OPTIONS_HPP_
