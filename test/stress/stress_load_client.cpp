// SPDX-License-Identifier: Apache-2.0
// One client process of the load test. It keeps a few requests of mixed
// commands in flight against robot_status_query for a bounded time and checks
// every reply against what its own request must produce. Beside the client it
// reads the reply topic raw, so that it sees every reply carrying its id,
// including ones the client library would drop: each of its requests must be
// answered exactly once, and nothing it did not ask for may arrive.
//
//   stress_load_client --client N --seconds S [--window W] [--map TOKEN]
//                      [--reply-timeout-ms T] [--until-gone]
//
// ROS_DOMAIN_ID comes from the environment; DATA_CENTER_STRESS_TRACE=1 names
// each unanswered request on standard error. With --until-gone the client runs
// until the service stops answering (or S seconds pass) and does not count
// the requests left unanswered then. Prints one summary line; exit status 0
// when every check held, 1 otherwise, 2 for a usage error, 3 when the service
// never appeared.
#include <dds/dds.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using namespace std::chrono_literals;
using e2e::Srv;
using Clock = std::chrono::steady_clock;

struct Options {
  int client = -1;
  double seconds = 0;
  int window = 2;
  std::string map = "map_load";
  long reply_timeout_ms = 10000;
  bool until_gone = false;
};

bool ParseOptions(int argc, char ** argv, Options & o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--client" && has_value) {
      o.client = std::atoi(argv[++i]);
    } else if (arg == "--seconds" && has_value) {
      o.seconds = std::atof(argv[++i]);
    } else if (arg == "--window" && has_value) {
      o.window = std::atoi(argv[++i]);
    } else if (arg == "--map" && has_value) {
      o.map = argv[++i];
    } else if (arg == "--reply-timeout-ms" && has_value) {
      o.reply_timeout_ms = std::atol(argv[++i]);
    } else if (arg == "--until-gone") {
      o.until_gone = true;
    } else {
      return false;
    }
  }
  return o.client >= 0 && o.seconds > 0 && o.window > 0;
}

enum class Kind { kRobotInfo, kLastMap, kStations, kSetStations, kUnknown };

const char * Name(Kind kind) {
  switch (kind) {
    case Kind::kRobotInfo:
      return "10003";
    case Kind::kLastMap:
      return "1002";
    case Kind::kStations:
      return "10002";
    case Kind::kSetStations:
      return "10001";
    case Kind::kUnknown:
      return "unknown";
  }
  return "?";
}

struct Outstanding {
  Kind kind;
  int32_t cmd_id;
  rclcpp::Client<Srv>::FutureAndRequestId future;
  Clock::time_point sent;
};

// The writer the client library sends requests with: its instance handle is
// the id every reply to this client carries.
uint64_t RequestWriterHandle(dds_entity_t participant) {
  for (const dds_entity_t publisher : rclcpp_compat::children_of(participant)) {
    for (const dds_entity_t writer : rclcpp_compat::children_of(publisher)) {
      char name[256] = {0};
      // Children of a subscriber are readers, and no reader here uses the
      // request topic.
      if (dds_get_name(dds_get_topic(writer), name, sizeof name) < 0 ||
          std::strcmp(name, "rq/robot_status_queryRequest") != 0) {
        continue;
      }
      dds_instance_handle_t handle = 0;
      if (dds_get_instance_handle(writer, &handle) == DDS_RETCODE_OK) {
        return handle;
      }
    }
  }
  return 0;
}

class Checker {
 public:
  Checker(int client, const std::string & map) : client_(client) {
    data_center::MapInfo info;
    info.set_map_id_str(map);
    map_bytes_ = info.SerializeAsString();
  }

  // Returns an empty string when the reply is what `kind` must produce.
  std::string Check(Kind kind, const e2e::Caller::Reply & r, int64_t request_id) {
    const bool clean = r.msg.empty();
    switch (kind) {
      case Kind::kRobotInfo:
        return r.code == 0 && clean && r.payload == e2e::kRobotInfoBytes ? "" : "robot info";
      case Kind::kLastMap:
        return r.code == 0 && clean && r.payload == map_bytes_ ? "" : "last map";
      case Kind::kSetStations:
        return r.code == 0 && clean && r.payload.empty() ? "" : "set stations";
      case Kind::kUnknown:
        return r.code == 10002 && clean && r.payload.empty() ? "" : "unknown command";
      case Kind::kStations: {
        if (r.code != 0 || !clean) {
          return "stations code";
        }
        // Some client's list, whole; per writer never older than one this
        // client saw before (requests of one client are handled in order).
        const auto id = e2e::ReadList(r.payload);
        if (!id || id->tag.compare(0, 5, "load-") != 0) {
          return "stations content";
        }
        seen_.emplace(request_id, *id);
        return "";
      }
    }
    return "kind";
  }

  // Lists seen in the order the requests were sent: per writer the sequence
  // numbers never go down. Returns the number of violations.
  long OrderViolations() const {
    std::map<std::string, int32_t> newest;
    long violations = 0;
    for (const auto & entry : seen_) {
      auto it = newest.find(entry.second.tag);
      if (it != newest.end() && entry.second.seq < it->second) {
        ++violations;
      }
      if (it == newest.end() || entry.second.seq > it->second) {
        newest[entry.second.tag] = entry.second.seq;
      }
    }
    return violations;
  }

  std::string NextList() {
    ++list_seq_;
    return e2e::MakeList("load-c" + std::to_string(client_), list_seq_, 1 + list_seq_ % 8);
  }

 private:
  int client_;
  int32_t list_seq_ = 0;
  std::string map_bytes_;
  std::map<int64_t, e2e::ListId> seen_;
};

}  // namespace

int main(int argc, char ** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "usage: stress_load_client --client N --seconds S [--window W] [--map TOKEN] "
                 "[--reply-timeout-ms T] [--until-gone]\n";
    return 2;
  }
  const char * ros_argv[] = {"stress_load_client"};
  rclcpp::init(1, ros_argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  auto node = std::make_shared<rclcpp::Node>("stress_load_client_" + std::to_string(options.client));
  auto client = node->create_client<Srv>("robot_status_query");

  // The raw view of the reply topic, in the same participant.
  const dds_entity_t participant = rclcpp_compat::node_core(*node).participant();
  const dds_entity_t topic =
      rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, "rr/robot_status_queryReply");
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);
  const dds_entity_t raw_reader = dds_create_reader(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  const uint64_t my_id = RequestWriterHandle(participant);
  if (topic < 0 || raw_reader < 0 || my_id == 0) {
    std::cerr << "cannot set up the raw reply reader\n";
    return 4;
  }

  const auto setup_deadline = Clock::now() + 20s;
  bool raw_matched = false;
  while (Clock::now() < setup_deadline) {
    dds_subscription_matched_status_t status;
    raw_matched = dds_get_subscription_matched_status(raw_reader, &status) == DDS_RETCODE_OK &&
                  status.current_count > 0;
    if (raw_matched && client->service_is_ready()) {
      break;
    }
    client->wait_for_service(50ms);
  }
  if (!raw_matched || !client->service_is_ready()) {
    std::cerr << "client " << options.client << ": no service within 20 s\n";
    return 3;
  }

  Checker checker(options.client, options.map);
  std::mt19937 random(static_cast<unsigned>(options.client) * 7919u + 17u);
  std::uniform_int_distribution<int> pick(0, 4);
  std::uniform_int_distribution<int32_t> unknown_cmd(-1000000, 1000000);
  std::map<int64_t, Outstanding> outstanding;
  std::set<int64_t> sent_ids;
  std::set<int64_t> abandoned;
  std::map<int64_t, int> raw_count;  // replies with this client's id, per request
  std::map<std::string, long> sent_by_kind;
  long sent = 0, answered = 0, wrong = 0, missing = 0, unasked = 0, duplicates = 0, other_clients = 0;
  long unanswered_at_stop = 0;
  std::string first_wrong;

  const auto drain_raw = [&] {
    for (;;) {
      void * samples[16] = {nullptr};
      dds_sample_info_t infos[16];
      const dds_return_t n = dds_take(raw_reader, samples, infos, 16, 16);
      if (n <= 0) {
        return;
      }
      for (dds_return_t i = 0; i < n; ++i) {
        if (!infos[i].valid_data) {
          continue;
        }
        // Loaned samples carry the header only, which is all this counts.
        const auto & header = static_cast<const rclcpp_compat::WireSample *>(samples[i])->header;
        if (header.guid != my_id) {
          ++other_clients;
        } else {
          ++raw_count[header.seq];
        }
      }
      dds_return_loan(raw_reader, samples, n);
    }
  };

  // Matched is not yet answered: the node's reply writer may find this
  // client's readers later than the client found the service, and a reply
  // written before that is lost (volatile, as in ROS 2). So the load starts
  // after a first reply has reached both readers. These warm-up requests are
  // not counted.
  bool warm = false;
  while (!warm && Clock::now() < setup_deadline + 20s) {
    auto request = std::make_shared<Srv::Request>();
    request->cmd_id = 10003;
    auto future = client->async_send_request(request);
    abandoned.insert(future.request_id);
    if (rclcpp::spin_until_future_complete(node, future.future, 1s) != rclcpp::FutureReturnCode::SUCCESS) {
      client->remove_pending_request(future.request_id);
      continue;
    }
    const auto raw_deadline = Clock::now() + 1s;
    while (!warm && Clock::now() < raw_deadline) {
      drain_raw();
      warm = raw_count.count(future.request_id) != 0;
      std::this_thread::sleep_for(1ms);
    }
  }
  if (!warm) {
    std::cerr << "client " << options.client << ": the service never answered\n";
    return 3;
  }
  other_clients = 0;

  const auto start = Clock::now();
  const auto end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  const auto reply_limit = std::chrono::milliseconds(options.reply_timeout_ms);
  bool gone = false;
  while (!gone && (Clock::now() < end || !outstanding.empty())) {
    while (Clock::now() < end && static_cast<int>(outstanding.size()) < options.window) {
      const Kind kind = static_cast<Kind>(pick(random));
      int32_t cmd = 0;
      std::string payload;
      switch (kind) {
        case Kind::kRobotInfo:
          cmd = 10003;
          payload = "\x0a\x03\x22\x01\xff";  // ignored by the node
          break;
        case Kind::kLastMap:
          cmd = 1002;
          break;
        case Kind::kStations:
          cmd = 10002;
          break;
        case Kind::kSetStations:
          cmd = 10001;
          payload = checker.NextList();
          break;
        case Kind::kUnknown:
          do {
            cmd = unknown_cmd(random);
          } while (cmd == 1002 || cmd == 10001 || cmd == 10002 || cmd == 10003);
          break;
      }
      auto request = std::make_shared<Srv::Request>();
      request->cmd_id = cmd;
      request->biz_data.assign(payload.begin(), payload.end());
      auto future = client->async_send_request(request);
      const int64_t id = future.request_id;
      sent_ids.insert(id);
      outstanding.emplace(id, Outstanding{kind, cmd, std::move(future), Clock::now()});
      ++sent;
      ++sent_by_kind[Name(kind)];
    }
    if (outstanding.empty()) {
      break;
    }
    rclcpp::spin_until_future_complete(node, outstanding.begin()->second.future.future, 5ms);
    drain_raw();
    for (auto it = outstanding.begin(); it != outstanding.end();) {
      if (it->second.future.wait_for(0s) == std::future_status::ready) {
        const auto reply = e2e::Caller::Take(it->second.future);
        ++answered;
        const std::string problem = checker.Check(it->second.kind, reply, it->first);
        if (!problem.empty()) {
          ++wrong;
          if (first_wrong.empty()) {
            first_wrong = problem + " (cmd " + std::to_string(it->second.cmd_id) + ", code " +
                          std::to_string(reply.code) + ", " + std::to_string(reply.payload.size()) +
                          " bytes)";
          }
        }
        it = outstanding.erase(it);
      } else if (Clock::now() - it->second.sent > reply_limit) {
        if (options.until_gone) {
          gone = true;  // the node has stopped: what is left is not counted
          ++it;
        } else {
          ++missing;
          if (std::getenv("DATA_CENTER_STRESS_TRACE") != nullptr) {
            std::cerr << "client " << options.client << ": no reply to request " << it->first << " ("
                      << Name(it->second.kind) << "), raw replies so far " << raw_count[it->first] << "\n";
          }
          client->remove_pending_request(it->first);
          it = outstanding.erase(it);
        }
      } else {
        ++it;
      }
    }
  }
  if (gone) {
    unanswered_at_stop = static_cast<long>(outstanding.size());
    for (const auto & entry : outstanding) {
      abandoned.insert(entry.first);  // a late reply to one of these is not an error either
    }
  }

  // The raw reader may see the last replies a moment after the client does.
  const auto drain_deadline = Clock::now() + 2s;
  do {
    drain_raw();
    long counted = 0;
    for (const auto & entry : raw_count) {
      counted += abandoned.count(entry.first) == 0 ? entry.second : 0;  // warm-up replies aside
    }
    if (counted >= answered) {
      break;
    }
    std::this_thread::sleep_for(10ms);
  } while (Clock::now() < drain_deadline);
  drain_raw();

  // Every reply with this client's id must answer a request it sent, and
  // each such request exactly one reply.
  long raw_answered = 0;
  for (const auto & entry : raw_count) {
    if (abandoned.count(entry.first) != 0) {
      continue;
    }
    if (sent_ids.count(entry.first) == 0) {
      unasked += entry.second;
      continue;
    }
    raw_answered += entry.second;
    if (entry.second > 1) {
      duplicates += entry.second - 1;
    }
  }
  const long order_violations = checker.OrderViolations();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  std::cout << "load client " << options.client << ": sent " << sent << " answered " << answered
            << " raw-replies " << raw_answered << " wrong " << wrong << " missing " << missing
            << " duplicate " << duplicates << " unasked " << unasked << " order-violations "
            << order_violations << " unanswered-at-stop " << unanswered_at_stop
            << " other-clients-replies-seen " << other_clients << " seconds " << elapsed << " by-kind";
  for (const auto & entry : sent_by_kind) {
    std::cout << " " << entry.first << "=" << entry.second;
  }
  if (!first_wrong.empty()) {
    std::cout << " first-wrong: " << first_wrong;
  }
  std::cout << std::endl;

  client.reset();
  node.reset();
  rclcpp::shutdown();
  const bool ok = wrong == 0 && missing == 0 && duplicates == 0 && unasked == 0 && order_violations == 0 &&
                  raw_answered == answered;
  return ok ? 0 : 1;
}
