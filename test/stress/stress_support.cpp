#include "stress_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"

namespace stress {

long EnvLong(const char * name, long fallback) {
  const char * text = std::getenv(name);
  if (text == nullptr || *text == '\0') {
    return fallback;
  }
  char * end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' ? value : fallback;
}

int ProcessDomain(int wanted) {
  static std::mutex mutex;
  static int domain = -1;
  std::lock_guard<std::mutex> lock(mutex);
  if (domain < 0) {
    domain = wanted;
    setenv("ROS_DOMAIN_ID", std::to_string(domain).c_str(), 1);
    // Loopback is the layer's default; an inherited setting must not undo it.
    unsetenv("ROS_LOCALHOST_ONLY");
    unsetenv("CYCLONEDDS_URI");
  }
  return domain;
}

Caller::Caller(int domain_id) : domain_(ProcessDomain(domain_id)) {
  if (!rclcpp::ok()) {
    const char * argv[] = {"stress_test"};
    // The test process keeps its own signal handling.
    rclcpp::init(1, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  }
  node_ = std::make_shared<rclcpp::Node>("stress_caller");
  client_ = node_->create_client<Srv>("robot_status_query");
}

Caller::~Caller() {
  client_.reset();
  node_.reset();
}

rclcpp::Client<Srv>::FutureAndRequestId Caller::Send(int32_t cmd_id, const std::string & payload) {
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = cmd_id;
  request->biz_data.assign(payload.begin(), payload.end());
  return client_->async_send_request(request);
}

bool Caller::Poll(const rclcpp::Client<Srv>::FutureAndRequestId & future, std::chrono::milliseconds slice) {
  return rclcpp::spin_until_future_complete(node_, future.future, slice) == rclcpp::FutureReturnCode::SUCCESS;
}

Caller::Reply Caller::Take(rclcpp::Client<Srv>::FutureAndRequestId & future) {
  const auto response = future.get();
  Reply reply;
  reply.code = response->code;
  reply.msg = response->msg;
  reply.payload.assign(response->biz_data.begin(), response->biz_data.end());
  return reply;
}

std::optional<Caller::Reply> Caller::Call(int32_t cmd_id, const std::string & payload,
                                          std::chrono::milliseconds limit) {
  auto future = Send(cmd_id, payload);
  if (!Poll(future, limit)) {
    Forget(future.request_id);
    return std::nullopt;
  }
  return Take(future);
}

std::optional<Caller::Reply> Caller::CallUntilAnswered(int32_t cmd_id, const std::string & payload,
                                                       std::chrono::milliseconds limit,
                                                       std::chrono::milliseconds attempt) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    // A request written before the node's reader matched is lost (volatile
    // QoS), so an unanswered attempt is simply repeated.
    client_->wait_for_service(attempt);
    if (auto reply = Call(cmd_id, payload, attempt)) {
      return reply;
    }
  }
  return std::nullopt;
}

std::string MakeList(const std::string & tag, int32_t seq, int count) {
  data_center::BaseStationInfo info;
  for (int i = 0; i < count; ++i) {
    auto * pose = info.add_bs_pose();
    pose->set_map_id(seq);
    pose->set_x(i);
    pose->set_y(seq + i / 4.0);
    pose->set_map_id_str(tag + ":" + std::to_string(seq));
  }
  return info.SerializeAsString();
}

std::optional<ListId> ReadList(const std::string & bytes) {
  data_center::BaseStationInfo info;
  if (bytes.empty() || !info.ParseFromString(bytes) || info.bs_pose_size() == 0) {
    return std::nullopt;
  }
  ListId id;
  id.seq = info.bs_pose(0).map_id();
  id.count = info.bs_pose_size();
  const std::string & name = info.bs_pose(0).map_id_str();
  const auto colon = name.rfind(':');
  if (colon == std::string::npos) {
    return std::nullopt;
  }
  id.tag = name.substr(0, colon);
  // The exact bytes MakeList gives for this identity: anything else, however
  // close, is not one of the lists that were sent.
  if (MakeList(id.tag, id.seq, id.count) != bytes) {
    return std::nullopt;
  }
  return id;
}

namespace {

long StatusKiB(pid_t pid, const std::string & key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) {
      std::istringstream fields(line.substr(key.size()));
      long kib = -1;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

}  // namespace

long RssKiB(pid_t pid) {
  return StatusKiB(pid, "VmRSS:");
}

long PeakRssKiB(pid_t pid) {
  return StatusKiB(pid, "VmHWM:");
}

Program::Program(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
                 const std::string & out_path, const std::string & err_path) {
  pid_ = e2e::Spawn(argv, env, out_path, err_path);
}

Program::~Program() {
  if (Running()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool Program::Running() {
  if (status_ != -1) {
    return false;
  }
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = e2e::DecodeStatus(status);
    return false;
  }
  return true;
}

int Program::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (Running()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = e2e::DecodeStatus(status);
  }
  return status_;
}

}  // namespace stress
