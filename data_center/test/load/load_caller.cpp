// SPDX-License-Identifier: Apache-2.0
// One process of the load test (test_callers.cpp).
//
//   data_center_load_caller calls ID ROUNDS TIMEOUT_MS [REPLY_DEPTH]
//     the typed client, ROUNDS rounds of 10001 (a list of 100 stations)
//     then 10002, each call with its timeout, with the client's reply depth
//     unless REPLY_DEPTH is given, after a first 10003 that is repeated until
//     answered (first_retries); prints the counts on one line:
//       middleware rmw_x calls N answered N timed_out N no_service N wrong N first_retries N
//     and exits 0 when every call was answered as expected, 1 when not.
//   data_center_load_caller busy SECONDS
//     keeps one CPU busy for SECONDS, then exits 0.
//   data_center_load_caller idle SECONDS [REPLY_DEPTH]
//     a client that waits for the service, stays idle for SECONDS while
//     others call, then calls 10003 once; prints its resident memory before
//     and after the idle time (what the reply history costs, by hand).
#include <rmw/rmw.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <data_center/client.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

constexpr int kStations = 100;

int Busy(long seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  volatile unsigned long spins = 0;
  while (std::chrono::steady_clock::now() < end) {
    for (int i = 0; i < 100000; ++i) spins = spins + 1;
  }
  return 0;
}

struct Counts {
  long calls = 0, answered = 0, timed_out = 0, no_service = 0, wrong = 0;

  // An answer other than `expected_ok` (ok, or a list of kStations) is wrong.
  void Add(const data_center::Reply & reply, bool expected_ok) {
    ++calls;
    if (!expected_ok) {
      std::fprintf(stderr, "call %ld: %s (code %d)\n", calls, data_center::ToString(reply.status),
                   reply.code);
    }
    switch (reply.status) {
      case data_center::CallStatus::kTimedOut:
        ++timed_out;
        return;
      case data_center::CallStatus::kNoService:
        ++no_service;
        return;
      case data_center::CallStatus::kInterrupted:
        ++wrong;
        return;
      default:
        ++answered;
        if (!expected_ok) ++wrong;
    }
  }
};

// The client's default reply depth unless `reply_depth` is given (> 0).
std::unique_ptr<data_center::Client> MakeClient(rclcpp::Node::SharedPtr node, long reply_depth) {
  if (reply_depth == 0) return std::make_unique<data_center::Client>(node);
  return std::make_unique<data_center::Client>(node, data_center::kServiceName,
                                               static_cast<std::size_t>(reply_depth));
}

// VmRSS of /proc/self/status.
std::string Resident() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 6));
  }
  return "?";
}

int Idle(long seconds, long reply_depth) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("data_center_idle_caller");
  auto client = MakeClient(node, reply_depth);
  if (!client->WaitForService(std::chrono::seconds(20))) return 1;
  std::printf("resident before %s\n", Resident().c_str());
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  std::printf("resident after %s\n", Resident().c_str());
  const auto info = client->QueryRobotInfo(std::chrono::seconds(5));
  std::printf("then 10003: %s, resident %s\n", data_center::ToString(info.status), Resident().c_str());
  client.reset();
  rclcpp::shutdown();
  return info.ok() ? 0 : 1;
}

int Calls(int id, long rounds, long timeout_ms, long reply_depth) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("data_center_load_caller_" + std::to_string(id));
  auto client = MakeClient(node, reply_depth);
  const std::chrono::milliseconds timeout(timeout_ms);
  Counts counts;
  // Discovery is not what is counted: the rounds start once the service is
  // there and has answered. On a busy CPU the node's reply path to a new
  // client can lag the client's view of the service, so a first call may go
  // unanswered (timed out); 10003 only reads, so it is safe to repeat.
  long first_retries = 0;
  if (client->WaitForService(std::chrono::seconds(20))) {
    while (rclcpp::ok() && first_retries < 10 && !client->QueryRobotInfo(timeout).ok()) ++first_retries;
  }
  if (first_retries < 10) {
    data_center::BaseStationInfo stations;
    for (int i = 0; i < kStations; ++i) {
      auto * pose = stations.add_bs_pose();
      pose->set_map_id(id);
      pose->set_x(i * 0.5);
      pose->set_y(-i * 0.25);
      pose->set_map_id_str("load_map_" + std::to_string(id));
    }
    for (long round = 0; round < rounds && rclcpp::ok(); ++round) {
      const data_center::Reply issued = client->IssueBaseStation(stations, timeout);
      counts.Add(issued, issued.ok());
      // Another caller's list may come back, but always a whole one.
      const auto read = client->QueryBaseStation(timeout);
      counts.Add(read, read.ok() && read.answer.bs_pose_size() == kStations);
    }
  }
  std::printf(
      "middleware %s calls %ld answered %ld timed_out %ld no_service %ld wrong %ld first_retries %ld\n",
      rmw_get_implementation_identifier(), counts.calls, counts.answered, counts.timed_out, counts.no_service,
      counts.wrong, first_retries);
  std::fflush(stdout);  // the counts stand whatever happens at shutdown
  client.reset();
  rclcpp::shutdown();
  return counts.calls == rounds * 2 && counts.answered == counts.calls && counts.wrong == 0 ? 0 : 1;
}

long Number(const char * text) {
  char * end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0) {
    std::fprintf(stderr, "data_center_load_caller: not a number: %s\n", text);
    std::exit(2);
  }
  return value;
}

}  // namespace

int main(int argc, char ** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "busy" && argc == 3) return Busy(Number(argv[2]));
  if (mode == "idle" && (argc == 3 || argc == 4))
    return Idle(Number(argv[2]), argc == 4 ? Number(argv[3]) : 0);
  if (mode == "calls" && (argc == 5 || argc == 6)) {
    return Calls(static_cast<int>(Number(argv[2])), Number(argv[3]), Number(argv[4]),
                 argc == 6 ? Number(argv[5]) : 0);
  }
  std::fprintf(stderr,
               "usage: data_center_load_caller calls ID ROUNDS TIMEOUT_MS [REPLY_DEPTH]\n"
               "       data_center_load_caller busy SECONDS\n"
               "       data_center_load_caller idle SECONDS [REPLY_DEPTH]\n");
  return 2;
}
