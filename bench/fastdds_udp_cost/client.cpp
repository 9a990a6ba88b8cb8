// SPDX-License-Identifier: Apache-2.0
// bench_rclcpp_client: asks each service named on the command line the same
// command, in alternating blocks so that all see the same background load,
// and prints per service the round trip's percentiles in microseconds and
// the answer's size: "SERVICE p50 p90 p99 BYTES". A caller as the robot's
// other nodes are: rclcpp, with the middleware its environment picks. Every
// answer must carry code 0 and as many bytes as the first; else exit 1.
//
//   bench_rclcpp_client [--cmd N] [--count N] [--warmup N] [--block N] SERVICE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <korvane_protocol/srv/data_center_srv.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using Clock = std::chrono::steady_clock;

struct Target {
  std::string service;
  rclcpp::Client<Srv>::SharedPtr client;
  std::vector<double> micros;
  long bytes = -1;
};

// One round trip in microseconds, or -1 when the answer is missing or wrong.
double Ask(const rclcpp::Node::SharedPtr & node, Target & target, int32_t cmd) {
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = cmd;
  const auto start = Clock::now();
  auto future = target.client->async_send_request(request);
  if (rclcpp::spin_until_future_complete(node, future, std::chrono::seconds(5)) !=
      rclcpp::FutureReturnCode::SUCCESS) {
    std::fprintf(stderr, "no answer from %s\n", target.service.c_str());
    return -1;
  }
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  const auto response = future.get();
  const long bytes = static_cast<long>(response->biz_data.size());
  if (target.bytes < 0) target.bytes = bytes;
  if (response->code != 0 || bytes != target.bytes) {
    std::fprintf(stderr, "%s answered code %d with %ld bytes\n", target.service.c_str(), response->code,
                 bytes);
    return -1;
  }
  return micros;
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char ** argv) {
  long cmd = 10002, count = 5000, warmup = 200, block = 100;
  std::vector<Target> targets;
  for (int i = 1; i < argc; ++i) {
    long * option = std::strcmp(argv[i], "--cmd") == 0      ? &cmd
                    : std::strcmp(argv[i], "--count") == 0  ? &count
                    : std::strcmp(argv[i], "--warmup") == 0 ? &warmup
                    : std::strcmp(argv[i], "--block") == 0  ? &block
                                                            : nullptr;
    if (option != nullptr && i + 1 < argc) {
      *option = std::atol(argv[++i]);
    } else if (argv[i][0] != '-') {
      targets.push_back({argv[i], nullptr, {}, -1});
    } else {
      std::fprintf(stderr,
                   "usage: bench_rclcpp_client [--cmd N] [--count N] [--warmup N] [--block N] SERVICE...\n");
      return 2;
    }
  }
  if (targets.empty() || count < 1 || block < 1) return 2;
  rclcpp::init(1, argv);
  auto node = std::make_shared<rclcpp::Node>("data_center_bench_client");
  for (auto & target : targets) {
    target.client = node->create_client<Srv>(target.service);
    if (!target.client->wait_for_service(std::chrono::seconds(20))) {
      std::fprintf(stderr, "service %s not available\n", target.service.c_str());
      return 1;
    }
    for (long i = 0; i < warmup; ++i) {
      if (Ask(node, target, static_cast<int32_t>(cmd)) < 0) return 1;
    }
  }
  for (long done = 0; done < count; done += block) {
    for (auto & target : targets) {
      for (long i = done; i < std::min(count, done + block); ++i) {
        const double micros = Ask(node, target, static_cast<int32_t>(cmd));
        if (micros < 0) return 1;
        target.micros.push_back(micros);
      }
    }
  }
  for (const auto & t : targets) {
    std::printf("%s %.1f %.1f %.1f %ld\n", t.service.c_str(), Percentile(t.micros, 0.5),
                Percentile(t.micros, 0.9), Percentile(t.micros, 0.99), t.bytes);
  }
  rclcpp::shutdown();
  return 0;
}
