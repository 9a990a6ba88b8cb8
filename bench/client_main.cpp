// SPDX-License-Identifier: Apache-2.0
// bench_client: the measuring side of bench/run_bench.py. One process, one
// bare Cyclone DDS participant with a requester per service asked; prints its
// figures as one JSON line.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client_options.hpp"
#include "latency_stats.hpp"
#include "raw_dds.hpp"
#include "request_loop.hpp"
#include "service_caller.hpp"

namespace {

// p50 ... mean of `samples`, as JSON members after a leading comma.
std::string Percentiles(std::vector<double> samples) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(1);
  const bench::LatencySummary s = bench::Summarize(samples);
  if (s.count > 0) {
    out << ", \"min_us\": " << s.min_us << ", \"p50_us\": " << s.p50_us << ", \"p90_us\": " << s.p90_us
        << ", \"p99_us\": " << s.p99_us << ", \"max_us\": " << s.max_us << ", \"mean_us\": " << s.mean_us
        << ", \"rps\": " << 1e6 / s.mean_us;  // sequential: one request at a time
  }
  return out.str();
}

std::string Arm(const bench::ArmResult & arm) {
  std::ostringstream out;
  out << "\"answered\": " << arm.answered << ", \"request_bytes\": " << arm.request_bytes
      << ", \"reply_bytes\": " << arm.reply_bytes << Percentiles(arm.samples_us);
  if (!arm.by_cmd_us.empty()) {
    out << ", \"by_cmd\": {";
    const char * separator = "";
    for (const auto & entry : arm.by_cmd_us) {
      out << separator << "\"" << entry.first << "\": {\"answered\": " << entry.second.size()
          << Percentiles(entry.second) << "}";
      separator = ", ";
    }
    out << "}";
  }
  return out.str();
}

std::string Json(const bench::LoopResult & result) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out << "{\"ok\": " << (result.ok ? "true" : "false") << ", " << Arm(result.main);
  out.precision(4);
  out << ", \"lost\": " << result.lost << ", \"slow\": " << result.slow << ", \"seconds\": " << result.seconds
      << ", \"cpu_seconds\": " << result.cpu_seconds;
  if (result.main.samples_us.empty()) {
    out.precision(1);
    out << ", \"rps\": "
        << (result.seconds > 0 ? static_cast<double>(result.main.answered) / result.seconds : 0.0);
  }
  if (!result.lost_at.empty()) {
    out << ", \"lost_at\": [";
    for (size_t k = 0; k < result.lost_at.size(); ++k) {
      out << (k == 0 ? "" : ", ") << result.lost_at[k];
    }
    out << "]";
  }
  if (result.has_compare) {
    out << ", \"compare\": {" << Arm(result.compare) << "}";
  }
  if (result.answered_at_ns != 0) {
    out << ", \"attempts\": " << result.attempts << ", \"matched_at_ns\": " << result.matched_at_ns
        << ", \"answered_at_ns\": " << result.answered_at_ns;
  }
  out << "}";
  return out.str();
}

extern "C" void OnSignal(int) {
  bench::g_stop_requested = 1;
}

}  // namespace

int main(int argc, char ** argv) {
  bench::ClientOptions options;
  std::string error;
  if (!bench::ParseClientOptions(argc, argv, options, error)) {
    std::cerr << "bench_client: " << error << "\n" << bench::ClientUsage();
    return 2;
  }
  dds_domainid_t domain = 0;
  if (!bench::DomainFromEnv(domain, error)) {
    std::cerr << "bench_client: " << error << std::endl;
    return 2;
  }
  bench::StopOnSignals(OnSignal);
  const dds_entity_t participant = bench::CreateParticipant(domain);
  if (participant < 0) {
    std::cerr << "bench_client: cannot create a participant on domain " << domain << ": "
              << dds_strretcode(participant) << std::endl;
    return 1;
  }
  // Deletes the participant, and with it every endpoint, on every way out.
  struct ParticipantGuard {
    dds_entity_t entity;
    ~ParticipantGuard() { dds_delete(entity); }
  } guard{participant};
  try {
    bench::LoopResult result;
    {
      bench::ServiceCaller caller(participant, options.service);
      std::unique_ptr<bench::ServiceCaller> compare;
      if (!options.compare_service.empty()) {
        compare = std::make_unique<bench::ServiceCaller>(participant, options.compare_service);
      }
      switch (options.mode) {
        case bench::Mode::kLatency:
          result = bench::RunLatency(caller, compare.get(), options);
          break;
        case bench::Mode::kThroughput:
          result = bench::RunThroughput(caller, options, std::cin);
          break;
        case bench::Mode::kFirstAnswer:
          result = bench::RunFirstAnswer(caller, options);
          break;
      }
    }
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
