// bench_client: the measuring side of bench/run_bench.py. One process, one
// rclcpp client of robot_status_query; prints its figures as one JSON line.
#include <cstdio>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "client_options.hpp"
#include "latency_stats.hpp"
#include "request_loop.hpp"
#include "service_caller.hpp"

namespace {

std::string Json(bench::LoopResult & result) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  const bench::LatencySummary s = bench::Summarize(result.samples_us);
  out << "{\"ok\": " << (result.ok ? "true" : "false") << ", \"answered\": " << result.answered
      << ", \"lost\": " << result.lost << ", \"request_bytes\": " << result.request_bytes
      << ", \"reply_bytes\": " << result.reply_bytes;
  out.precision(4);
  out << ", \"seconds\": " << result.seconds;
  out.precision(1);
  out << ", \"rps\": " << (result.seconds > 0 ? static_cast<double>(result.answered) / result.seconds : 0.0);
  if (s.count > 0) {
    out << ", \"min_us\": " << s.min_us << ", \"p50_us\": " << s.p50_us << ", \"p90_us\": " << s.p90_us
        << ", \"p99_us\": " << s.p99_us << ", \"max_us\": " << s.max_us << ", \"mean_us\": " << s.mean_us;
  }
  if (result.answered_at_ns != 0) {
    out << ", \"attempts\": " << result.attempts << ", \"answered_at_ns\": " << result.answered_at_ns;
  }
  out << "}";
  return out.str();
}

}  // namespace

int main(int argc, char ** argv) {
  bench::ClientOptions options;
  std::string error;
  if (!bench::ParseClientOptions(argc, argv, options, error)) {
    std::cerr << "bench_client: " << error << "\n" << bench::ClientUsage();
    return 2;
  }
  try {
    rclcpp::init(argc, argv);
    bench::LoopResult result;
    {
      bench::ServiceCaller caller(options.service);
      switch (options.mode) {
        case bench::Mode::kLatency:
          result = bench::RunLatency(caller, options);
          break;
        case bench::Mode::kThroughput:
          result = bench::RunThroughput(caller, options, std::cin);
          break;
        case bench::Mode::kFirstAnswer:
          result = bench::RunFirstAnswer(caller, options);
          break;
      }
    }
    rclcpp::shutdown();
    std::cout << Json(result) << std::endl;
    if (!result.ok) {
      std::cerr << "bench_client: " << result.error << std::endl;
      return 1;
    }
    return 0;
  } catch (const std::exception & e) {
    std::cerr << "bench_client: " << e.what() << std::endl;
    return 1;
  }
}
