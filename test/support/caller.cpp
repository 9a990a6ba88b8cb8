// SPDX-License-Identifier: Apache-2.0
#include "caller.hpp"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "test_environment.hpp"

namespace e2e {

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
    const char * argv[] = {"system_test"};
    // The test process keeps its own signal handling.
    rclcpp::init(1, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  }
  node_ = std::make_shared<rclcpp::Node>("test_caller");
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
  if (!Poll(future, Scaled(limit))) {
    Forget(future.request_id);
    return std::nullopt;
  }
  return Take(future);
}

std::optional<Caller::Reply> Caller::CallUntilAnswered(int32_t cmd_id, const std::string & payload,
                                                       std::chrono::milliseconds limit,
                                                       std::chrono::milliseconds attempt) {
  const auto deadline = std::chrono::steady_clock::now() + Scaled(limit);
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

}  // namespace e2e
