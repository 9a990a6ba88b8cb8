// SPDX-License-Identifier: Apache-2.0
// bench_client: the measuring side of bench/run_bench.py. Bare Cyclone DDS on
// the layer's wire types, with nothing between the timed round trip and the
// wire but dds_write, a waitset and dds_take, so that the client's own cost
// does not hide the server's. It asks the node and, with --floor, the echo
// floor the same requests in alternating blocks, so that both see the same
// background load; checks the node's answers (result code and size of every
// answer, the decoded first and last answer); prints one JSON line.
//
//   bench_client --cmd N [--code N] [--poses N] [--count N] [--warmup N]
//                [--block N] [--service NAME] [--floor NAME]
//                [--expect-poses N] [--expect-map ID] [--timeout-ms N]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "proto/data_center.pb.h"
#include "raw_dds.hpp"

namespace {

using bench::Srv;
using Clock = std::chrono::steady_clock;

struct Options {
  int32_t cmd = 10003;
  int32_t code = 0;   // the result code every answer of the node must carry
  long poses = -1;    // every request carries a station list of this many poses
  long count = 1000;  // measured requests to each server
  long warmup = 100;  // unmeasured ones first
  long block = 100;
  long timeout_ms = 5000;
  std::string service = "robot_status_query";
  std::string floor;       // the floor's service name; empty: the node alone
  long expect_poses = -1;  // 10002: the answer is the list of this many poses as --poses sends it
  std::string expect_map;  // 1002: the map the answer names
};

long Number(const std::string & arg, const std::string & value) {
  size_t used = 0;
  try {
    const long number = std::stol(value, &used);
    if (used == value.size()) {
      return number;
    }
  } catch (const std::logic_error &) {
  }
  throw std::invalid_argument("bad value '" + value + "' for " + arg);
}

Options Parse(int argc, char ** argv) {
  Options o;
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      throw std::invalid_argument("option " + arg + " needs a value");
    }
    const std::string value = argv[i + 1];
    long * number = arg == "--poses"          ? &o.poses
                    : arg == "--count"        ? &o.count
                    : arg == "--warmup"       ? &o.warmup
                    : arg == "--block"        ? &o.block
                    : arg == "--timeout-ms"   ? &o.timeout_ms
                    : arg == "--expect-poses" ? &o.expect_poses
                                              : nullptr;
    if (number != nullptr) {
      *number = Number(arg, value);
    } else if (arg == "--cmd" || arg == "--code") {
      (arg == "--cmd" ? o.cmd : o.code) = static_cast<int32_t>(Number(arg, value));
    } else if (arg == "--service" || arg == "--floor" || arg == "--expect-map") {
      (arg == "--service" ? o.service : arg == "--floor" ? o.floor : o.expect_map) = value;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  if (o.count < 1 || o.warmup < 0 || o.block < 1 || o.timeout_ms < 1) {
    throw std::invalid_argument("--count, --block and --timeout-ms must be positive, --warmup not negative");
  }
  return o;
}

// One service as a ROS 2 client sees it: a request writer and a reply reader
// with `clientid` user data (a server that sees it waits for this client's
// reply reader before answering); request header guid = the request writer's
// instance handle, seq from 1, one counter for the process.
class Requester {
 public:
  Requester(dds_entity_t participant, const std::string & service)
      : endpoints_(participant, "rr/" + service + "Reply", "rq/" + service + "Request",
                   ClientId(participant)) {
    dds_instance_handle_t handle = 0;
    bench::Checked(dds_get_instance_handle(endpoints_.writer, &handle), "request writer handle");
    guid_ = handle;
  }

  // True once the request writer and the reply reader have both matched.
  bool WaitForService(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    dds_publication_matched_status_t pub{};
    dds_subscription_matched_status_t sub{};
    while (dds_get_publication_matched_status(endpoints_.writer, &pub) != DDS_RETCODE_OK ||
           dds_get_subscription_matched_status(endpoints_.reader, &sub) != DDS_RETCODE_OK ||
           pub.current_count == 0 || sub.current_count == 0) {
      if (Clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Writes one request and takes replies until the one with its guid and
  // seq; false on time-out. `response` is overwritten, its buffers reused.
  bool Call(const Srv::Request & request, std::chrono::milliseconds limit, Srv::Response & response) {
    rclcpp_compat::WireSample out;
    out.header.guid = guid_;
    out.header.seq = next_seq_++;
    out.message = const_cast<Srv::Request *>(&request);  // only read by dds_write
    if (dds_write(endpoints_.writer, &out) < 0) {
      return false;
    }
    const auto deadline = Clock::now() + limit;
    rclcpp_compat::WireSample in;
    in.message = &response;
    void * buffer[1] = {&in};
    for (auto left = limit; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())) {
      dds_attach_t triggered[1];
      dds_waitset_wait(endpoints_.waitset, triggered, 1, DDS_MSECS(left.count()));
      dds_sample_info_t info;
      while (dds_take(endpoints_.reader, buffer, &info, 1, 1) > 0) {
        if (info.valid_data && in.header.guid == guid_ && in.header.seq == out.header.seq) {
          return true;
        }
      }
    }
    return false;
  }

 private:
  static std::string ClientId(dds_entity_t participant) {
    dds_instance_handle_t handle = 0;
    dds_get_instance_handle(participant, &handle);
    static unsigned serial = 0;
    return "clientid=" + std::to_string(handle) + "." + std::to_string(++serial) + ";";
  }

  static inline int64_t next_seq_ = 1;
  bench::ServiceEndpoints endpoints_;
  uint64_t guid_ = 0;
};

// A serialized BaseStationInfo of `poses` distinct poses over a few maps.
std::vector<uint8_t> StationList(long poses) {
  data_center::BaseStationInfo info;
  for (long i = 0; i < poses; ++i) {
    data_center::BsPose * pose = info.add_bs_pose();
    const int map = 1 + static_cast<int>(i % 7);
    pose->set_map_id(map);
    pose->set_x(0.5 * static_cast<double>(i) + 0.125);
    pose->set_y(-0.25 * static_cast<double>(i) - 3.0);
    pose->set_map_id_str("map_" + std::to_string(map));
  }
  std::vector<uint8_t> bytes(info.ByteSizeLong());
  info.SerializeToArray(bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

// "" when `payload` decodes as the node's answer to the command and holds what is expected.
std::string CheckPayload(const Options & o, const std::vector<uint8_t> & payload) {
  const int size = static_cast<int>(payload.size());
  switch (o.cmd) {
    case 1002: {
      data_center::MapInfo map;
      if (!map.ParseFromArray(payload.data(), size)) {
        return "1002 answer is not a MapInfo";
      }
      return o.expect_map.empty() || map.map_id_str() == o.expect_map
                 ? ""
                 : "1002 answer names map '" + map.map_id_str() + "', expected '" + o.expect_map + "'";
    }
    case 10002: {
      data_center::BaseStationInfo info;
      if (!info.ParseFromArray(payload.data(), size)) {
        return "10002 answer is not a BaseStationInfo";
      }
      return o.expect_poses < 0 || payload == StationList(o.expect_poses)
                 ? ""
                 : "10002 answer (" + std::to_string(info.bs_pose_size()) + " poses) is not the list of " +
                       std::to_string(o.expect_poses) + " poses stored";
    }
    case 10003: {
      data_center::RobotInfoResp info;
      return info.ParseFromArray(payload.data(), size) && info.has_job_info()
                 ? ""
                 : "10003 answer is not a RobotInfoResp with job_info";
    }
    default:
      return payload.empty() ? "" : "answer to command " + std::to_string(o.cmd) + " carries a payload";
  }
}

// One server asked: its requester, its round trips and what its answers must be.
struct Arm {
  Arm(const char * arm_name, Requester arm_requester, int32_t arm_code, bool arm_decode)
      : name(arm_name), requester(arm_requester), code(arm_code), decode(arm_decode) {}
  const char * name;
  Requester requester;
  int32_t code;
  bool decode;  // the node's answers are decoded; the floor's are bytes
  std::vector<double> us;
  long reply_bytes = -1;
  Srv::Response response;  // reused: no allocation per round trip once warm
  Srv::Response last;
};

// "" when the answer is right; checked after the timed part.
std::string Check(const Options & o, Arm & arm, long i) {
  const std::string where = std::string(arm.name) + " request " + std::to_string(i) + ": ";
  if (arm.response.code != arm.code) {
    return where + "code " + std::to_string(arm.response.code) + " (msg \"" + arm.response.msg +
           "\"), expected " + std::to_string(arm.code);
  }
  const long size = static_cast<long>(arm.response.biz_data.size());
  if (arm.reply_bytes < 0) {
    arm.reply_bytes = size;
    const std::string problem = arm.decode ? CheckPayload(o, arm.response.biz_data) : "";
    if (!problem.empty()) {
      return where + problem;
    }
  } else if (size != arm.reply_bytes) {
    return where + std::to_string(size) + " bytes, earlier " + std::to_string(arm.reply_bytes);
  }
  std::swap(arm.last, arm.response);
  return "";
}

// Nearest rank: the smallest sample with at least `p` percent at or below it.
double Percentile(const std::vector<double> & sorted, double p) {
  const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

std::string Json(Arm & arm, size_t request_bytes) {
  std::sort(arm.us.begin(), arm.us.end());
  char text[400];
  std::snprintf(
      text, sizeof text,
      "{\"answered\": %zu, \"request_bytes\": %zu, \"reply_bytes\": %ld, \"p50_us\": %.1f, \"p90_us\": "
      "%.1f, \"p99_us\": %.1f, \"max_us\": %.1f, \"mean_us\": %.1f}",
      arm.us.size(), request_bytes, arm.reply_bytes, Percentile(arm.us, 50), Percentile(arm.us, 90),
      Percentile(arm.us, 99), arm.us.back(),
      std::accumulate(arm.us.begin(), arm.us.end(), 0.0) / static_cast<double>(arm.us.size()));
  return text;
}

std::string Run(const Options & o, dds_entity_t participant) {
  std::vector<Arm> arms;
  arms.emplace_back("node", Requester(participant, o.service), o.code, true);
  if (!o.floor.empty()) {
    arms.emplace_back("floor", Requester(participant, o.floor), 0, false);
  }
  for (Arm & arm : arms) {
    if (!arm.requester.WaitForService(std::chrono::seconds(20))) {
      throw std::runtime_error(std::string(arm.name) + " not available within 20 s");
    }
  }
  Srv::Request request;
  request.cmd_id = o.cmd;
  if (o.poses >= 0) {
    request.biz_data = StationList(o.poses);
  }
  const auto timeout = std::chrono::milliseconds(o.timeout_ms);
  const long total = o.warmup + o.count;
  for (long first = 0; first < total; first += o.block) {
    for (Arm & arm : arms) {
      for (long i = first; i < std::min(total, first + o.block); ++i) {
        const auto t0 = Clock::now();
        const bool answered = arm.requester.Call(request, timeout, arm.response);
        const auto t1 = Clock::now();
        if (!answered) {
          throw std::runtime_error(std::string(arm.name) + " request " + std::to_string(i) +
                                   " not answered within " + std::to_string(o.timeout_ms) + " ms");
        }
        const std::string problem = Check(o, arm, i);
        if (!problem.empty()) {
          throw std::runtime_error(problem);
        }
        if (i >= o.warmup) {
          arm.us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
      }
    }
  }
  const std::string problem = CheckPayload(o, arms.front().last.biz_data);
  if (!problem.empty()) {
    throw std::runtime_error("last answer: " + problem);
  }
  std::string json = "{\"ok\": true";
  for (Arm & arm : arms) {
    json += std::string(", \"") + arm.name + "\": " + Json(arm, request.biz_data.size());
  }
  return json + "}";
}

}  // namespace

int main(int argc, char ** argv) {
  Options options;
  try {
    options = Parse(argc, argv);
  } catch (const std::exception & e) {
    std::cerr << "bench_client: " << e.what() << "\nusage: " << argv[0]
              << " --cmd N [--code N] [--poses N] [--count N] [--warmup N] [--block N] [--service NAME]"
                 " [--floor NAME] [--expect-poses N] [--expect-map ID] [--timeout-ms N]\n";
    return 2;
  }
  dds_entity_t participant = 0;
  try {
    participant = bench::CreateParticipant();
    const std::string json = Run(options, participant);
    dds_delete(participant);
    std::cout << json << std::endl;
    return 0;
  } catch (const std::exception & e) {
    dds_delete(participant);
    std::cerr << "bench_client: " << e.what() << std::endl;
    return 1;
  }
}
