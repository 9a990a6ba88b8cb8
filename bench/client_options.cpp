// SPDX-License-Identifier: Apache-2.0
#include "client_options.hpp"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace bench {
namespace {

bool ParseLong(const std::string & text, long low, long high, long & value) {
  if (text.empty()) {
    return false;
  }
  char * end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
    return false;
  }
  value = parsed;
  return true;
}

bool ParseCommands(const std::string & text, std::vector<PlannedCommand> & commands) {
  commands.clear();
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string item = text.substr(pos, end - pos);
    const size_t colon = item.find(':');
    long cmd = 0;
    long code = 0;
    const long lo = std::numeric_limits<int32_t>::min();
    const long hi = std::numeric_limits<int32_t>::max();
    if (!ParseLong(item.substr(0, colon), lo, hi, cmd) ||
        (colon != std::string::npos && !ParseLong(item.substr(colon + 1), lo, hi, code))) {
      return false;
    }
    commands.push_back({static_cast<int32_t>(cmd), static_cast<int32_t>(code)});
    pos = end + 1;
  }
  return !commands.empty();
}

}  // namespace

std::string ClientUsage() {
  return "usage: bench_client MODE --cmd CMD[:CODE][,CMD[:CODE]...] [options]\n"
         "modes:\n"
         "  latency        sequential round trips; prints one JSON line of percentiles\n"
         "  throughput     prints \"ready\", waits for a line on standard input, then sends\n"
         "                 sequentially for --seconds and prints one JSON line\n"
         "  first-answer   prints \"waiting\", waits for the service, sends until the first\n"
         "                 answer and prints its CLOCK_MONOTONIC time stamp\n"
         "options:\n"
         "  --cmd LIST          commands sent in turn; CODE is the expected result (default 0)\n"
         "  --poses N           every request carries a station list of N poses\n"
         "  --count N           measured requests (latency, default 1000)\n"
         "  --warmup N          unmeasured requests first (latency, default 100)\n"
         "  --seconds S         time limit (latency) or duration (throughput)\n"
         "  --timeout-ms N      longest wait for one answer (default 5000)\n"
         "  --service-wait-ms N longest wait for the service (default 20000)\n"
         "  --service NAME      service name (default robot_status_query)\n"
         "  --compare-service NAME  latency: also ask this server (code 0 expected), in\n"
         "                      alternating blocks of --block requests (default 50)\n"
         "  --allow-lost        throughput: count unanswered requests instead of failing\n"
         "  --slow-ms N         throughput: answers slower than this are counted (default 200)\n"
         "  --validate          answers must decode as the node's messages\n"
         "  --expect-poses N    with --validate: 10002 answers hold N poses\n"
         "  --expect-map ID     with --validate: 1002 answers name map ID\n";
}

bool ParseClientOptions(int argc, char ** argv, ClientOptions & options, std::string & error) {
  if (argc < 2) {
    error = "missing mode";
    return false;
  }
  const std::string mode = argv[1];
  if (mode == "latency") {
    options.mode = Mode::kLatency;
  } else if (mode == "throughput") {
    options.mode = Mode::kThroughput;
  } else if (mode == "first-answer") {
    options.mode = Mode::kFirstAnswer;
  } else {
    error = "unknown mode '" + mode + "'";
    return false;
  }
  constexpr long kMaxCount = 100000000;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--validate") {
      options.validate = true;
      continue;
    }
    if (arg == "--allow-lost") {
      options.allow_lost = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "option '" + arg + "' needs a value (or is unknown)";
      return false;
    }
    const std::string value = argv[++i];
    long number = 0;
    bool ok = true;
    if (arg == "--cmd") {
      ok = ParseCommands(value, options.commands);
    } else if (arg == "--poses") {
      ok = ParseLong(value, 0, 10000000, number);
      options.poses = static_cast<int>(number);
    } else if (arg == "--count") {
      ok = ParseLong(value, 1, kMaxCount, options.count);
    } else if (arg == "--warmup") {
      ok = ParseLong(value, 0, kMaxCount, options.warmup);
    } else if (arg == "--seconds") {
      char * end = nullptr;
      options.seconds = std::strtod(value.c_str(), &end);
      ok = end != value.c_str() && *end == '\0' && options.seconds > 0 && options.seconds <= 3600;
    } else if (arg == "--timeout-ms") {
      ok = ParseLong(value, 1, 600000, options.timeout_ms);
    } else if (arg == "--slow-ms") {
      ok = ParseLong(value, 1, 600000, options.slow_ms);
    } else if (arg == "--service-wait-ms") {
      ok = ParseLong(value, 1, 600000, options.service_wait_ms);
    } else if (arg == "--compare-service") {
      options.compare_service = value;
      ok = !value.empty();
    } else if (arg == "--block") {
      ok = ParseLong(value, 1, kMaxCount, options.block);
    } else if (arg == "--service") {
      options.service = value;
      ok = !value.empty();
    } else if (arg == "--expect-poses") {
      ok = ParseLong(value, 0, 10000000, number);
      options.expect_poses = static_cast<int>(number);
    } else if (arg == "--expect-map") {
      options.expect_map = value;
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
    if (!ok) {
      error = "bad value '" + value + "' for " + arg;
      return false;
    }
  }
  if (options.commands.empty()) {
    error = "--cmd is required";
    return false;
  }
  return true;
}

}  // namespace bench
