// SPDX-License-Identifier: Apache-2.0
#include "request_loop.hpp"

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <iostream>
#include <utility>

#include "payloads.hpp"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// The prepared requests of the mix and what their answers must look like.
class RequestMix {
 public:
  explicit RequestMix(const ClientOptions & options) : options_(options) {
    const std::vector<uint8_t> payload =
        options.poses >= 0 ? MakeStationList(options.poses) : std::vector<uint8_t>();
    for (const PlannedCommand & planned : options.commands) {
      Srv::Request request;
      request.cmd_id = planned.cmd;
      request.biz_data = payload;
      requests_.push_back(std::move(request));
    }
    reply_bytes_.assign(options.commands.size(), -1);
    last_.resize(options.commands.size());
    have_last_.assign(options.commands.size(), false);
    expect_.poses = options.expect_poses;
    expect_.map_id = options.expect_map;
  }

  size_t size() const { return requests_.size(); }
  const Srv::Request & request(size_t i) const { return requests_[i % requests_.size()]; }
  size_t request_bytes() const { return requests_.front().biz_data.size(); }
  size_t reply_bytes() const {
    return reply_bytes_.front() < 0 ? 0 : static_cast<size_t>(reply_bytes_.front());
  }

  // "" when the answer to request `i` is what the command must answer. The
  // payload is decoded for the first answer of each command here and for the
  // last one in CheckLast, outside any timed part. An accepted answer is kept
  // by swapping: `response` gets an earlier one's buffers for the next call.
  std::string Check(size_t i, Srv::Response & response) {
    const size_t k = i % requests_.size();
    const PlannedCommand & planned = options_.commands[k];
    if (response.code != planned.expected_code) {
      return "command " + std::to_string(planned.cmd) + " answered code " + std::to_string(response.code) +
             " (msg \"" + response.msg + "\"), expected " + std::to_string(planned.expected_code);
    }
    const long size = static_cast<long>(response.biz_data.size());
    if (reply_bytes_[k] < 0) {
      reply_bytes_[k] = size;
      if (options_.validate) {
        const std::string problem = CheckAnswer(planned.cmd, response.biz_data, expect_);
        if (!problem.empty()) {
          return problem;
        }
      }
    } else if (reply_bytes_[k] != size) {
      return "command " + std::to_string(planned.cmd) + " answered " + std::to_string(size) +
             " bytes, earlier " + std::to_string(reply_bytes_[k]);
    }
    std::swap(last_[k], response);
    have_last_[k] = true;
    return "";
  }

  std::string CheckLast() const {
    if (!options_.validate) {
      return "";
    }
    for (size_t k = 0; k < last_.size(); ++k) {
      if (have_last_[k]) {
        const std::string problem = CheckAnswer(options_.commands[k].cmd, last_[k].biz_data, expect_);
        if (!problem.empty()) {
          return "last answer: " + problem;
        }
      }
    }
    return "";
  }

 private:
  const ClientOptions & options_;
  std::vector<Srv::Request> requests_;
  std::vector<long> reply_bytes_;
  std::vector<Srv::Response> last_;
  std::vector<bool> have_last_;
  AnswerExpectation expect_;
};

LoopResult Fail(LoopResult result, const std::string & error) {
  result.ok = false;
  result.error = error;
  return result;
}

bool WaitForService(ServiceCaller & caller, const ClientOptions & options, LoopResult & result) {
  if (caller.WaitForService(std::chrono::milliseconds(options.service_wait_ms))) {
    return true;
  }
  result = Fail(result, "service not available within " + std::to_string(options.service_wait_ms) + " ms");
  return false;
}

}  // namespace

int64_t MonotonicNs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Options for the comparison server: same requests, code 0 for all of them,
// and answers that are bytes of the asked size, not the node's messages.
ClientOptions CompareOptions(const ClientOptions & options) {
  ClientOptions compare = options;
  for (PlannedCommand & planned : compare.commands) {
    planned.expected_code = 0;
  }
  compare.validate = false;
  return compare;
}

double ProcessCpuSeconds() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) {
    return 0;
  }
  auto seconds = [](const struct timeval & t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

LoopResult RunLatency(ServiceCaller & caller, ServiceCaller * compare, const ClientOptions & options) {
  LoopResult result;
  if (!WaitForService(caller, options, result)) {
    return result;
  }
  const ClientOptions compare_options = CompareOptions(options);
  if (compare != nullptr && !compare->WaitForService(std::chrono::milliseconds(options.service_wait_ms))) {
    return Fail(result,
                "comparison service not available within " + std::to_string(options.service_wait_ms) + " ms");
  }
  struct Arm {
    ServiceCaller * caller;
    RequestMix mix;
    ArmResult * out;
    long sent = 0;
    Srv::Response response;  // reused: no allocation per round trip once warm
  };
  std::vector<Arm> arms;
  arms.push_back(Arm{&caller, RequestMix(options), &result.main, 0, Srv::Response()});
  if (compare != nullptr) {
    arms.push_back(Arm{compare, RequestMix(compare_options), &result.compare, 0, Srv::Response()});
    result.has_compare = true;
  }
  const bool by_cmd = options.commands.size() > 1;
  const auto timeout = std::chrono::milliseconds(options.timeout_ms);
  const auto limit = std::chrono::duration<double>(options.seconds);
  const long total = options.warmup + options.count;
  const long block = compare != nullptr ? options.block : total;
  const auto run_start = Clock::now();
  auto measured_start = run_start;
  bool measuring = false;
  // Blocks of requests go to each server in turn until all have sent `total`.
  for (size_t turn = 0;; ++turn) {
    Arm & arm = arms[turn % arms.size()];
    bool all_done = true;
    for (const Arm & a : arms) {
      all_done = all_done && a.sent >= total;
    }
    if (all_done) {
      break;
    }
    for (long b = 0; b < block && arm.sent < total; ++b) {
      const long i = arm.sent;
      if (!measuring && i >= options.warmup) {
        measuring = true;
        measured_start = Clock::now();
        result.cpu_seconds = -ProcessCpuSeconds();
      }
      // Bounded in time as well as in count, warm-up included.
      if (Clock::now() - (measuring ? measured_start : run_start) > limit) {
        if (!measuring) {
          return Fail(result, "warm-up did not finish within the time limit");
        }
        for (Arm & a : arms) {
          a.sent = total;  // stop every arm
        }
        break;
      }
      const Srv::Request & request = arm.mix.request(static_cast<size_t>(i));
      const auto t0 = Clock::now();
      const bool answered = arm.caller->Call(request, timeout, arm.response);
      const auto t1 = Clock::now();
      if (!answered) {
        return Fail(result, std::string(arm.out == &result.main ? "" : "comparison server: ") + "request " +
                                std::to_string(i) + " (command " + std::to_string(request.cmd_id) +
                                ") not answered within " + std::to_string(options.timeout_ms) + " ms");
      }
      const std::string problem = arm.mix.Check(static_cast<size_t>(i), arm.response);
      if (!problem.empty()) {
        return Fail(result, problem);
      }
      ++arm.sent;
      if (i >= options.warmup) {
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        arm.out->samples_us.push_back(us);
        if (by_cmd) {
          arm.out->by_cmd_us[request.cmd_id].push_back(us);
        }
      }
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - measured_start).count();
  result.cpu_seconds += ProcessCpuSeconds();
  for (Arm & arm : arms) {
    arm.out->answered = static_cast<long>(arm.out->samples_us.size());
    arm.out->request_bytes = arm.mix.request_bytes();
    arm.out->reply_bytes = arm.mix.reply_bytes();
    const std::string problem = arm.mix.CheckLast();
    if (!problem.empty()) {
      return Fail(result, problem);
    }
  }
  return result;
}

LoopResult RunThroughput(ServiceCaller & caller, const ClientOptions & options, std::istream & go) {
  LoopResult result;
  if (!WaitForService(caller, options, result)) {
    return result;
  }
  RequestMix mix(options);
  result.main.request_bytes = mix.request_bytes();
  std::cout << "ready" << std::endl;
  std::string line;
  if (!std::getline(go, line)) {
    return Fail(result, "no start line on standard input");
  }
  const auto timeout = std::chrono::milliseconds(options.timeout_ms);
  const auto limit = std::chrono::duration<double>(options.seconds);
  const auto start = Clock::now();
  result.cpu_seconds = -ProcessCpuSeconds();
  size_t i = 0;
  Srv::Response response;
  for (; Clock::now() - start < limit; ++i) {
    const auto t0 = Clock::now();
    const bool answered = caller.Call(mix.request(i), timeout, response);
    if (answered && Clock::now() - t0 > std::chrono::milliseconds(options.slow_ms)) {
      ++result.slow;
    }
    if (!answered) {
      if (options.allow_lost && g_stop_requested == 0) {
        ++result.lost;
        result.lost_at.push_back(static_cast<long>(i));
        continue;
      }
      return Fail(result, "request " + std::to_string(i) + " not answered within " +
                              std::to_string(options.timeout_ms) + " ms");
    }
    const std::string problem = mix.Check(i, response);
    if (!problem.empty()) {
      return Fail(result, problem);
    }
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu_seconds += ProcessCpuSeconds();
  result.main.answered = static_cast<long>(i) - result.lost;
  result.main.reply_bytes = mix.reply_bytes();
  const std::string problem = mix.CheckLast();
  return problem.empty() ? result : Fail(result, problem);
}

LoopResult RunFirstAnswer(ServiceCaller & caller, const ClientOptions & options) {
  LoopResult result;
  RequestMix mix(options);
  result.main.request_bytes = mix.request_bytes();
  std::cout << "waiting" << std::endl;
  const auto deadline = Clock::now() + std::chrono::milliseconds(options.service_wait_ms);
  while (Clock::now() < deadline) {
    if (!caller.WaitForService(std::chrono::milliseconds(100))) {
      continue;
    }
    if (result.matched_at_ns == 0) {
      result.matched_at_ns = MonotonicNs();
    }
    ++result.attempts;
    Srv::Response response;
    if (!caller.Call(mix.request(0), std::chrono::milliseconds(options.timeout_ms), response)) {
      continue;  // lost while the server was still matching us: ask again
    }
    result.answered_at_ns = MonotonicNs();
    const std::string problem = mix.Check(0, response);
    if (!problem.empty()) {
      return Fail(result, problem);
    }
    result.main.answered = 1;
    result.main.reply_bytes = mix.reply_bytes();
    return result;
  }
  return Fail(result, "no answer within " + std::to_string(options.service_wait_ms) + " ms");
}

}  // namespace bench
