// SPDX-License-Identifier: Apache-2.0
#include "data_center/client.hpp"

#include <chrono>
#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "service_qos.hpp"

namespace data_center {

const char * ToString(CallStatus status) {
  switch (status) {
    case CallStatus::kOk:
      return "ok";
    case CallStatus::kFailed:
      return "failed";
    case CallStatus::kBadAnswer:
      return "bad answer";
    case CallStatus::kNoService:
      return "no service";
    case CallStatus::kTimedOut:
      return "timed out";
    case CallStatus::kInterrupted:
      return "interrupted";
    case CallStatus::kTooLarge: {
      static const std::string text =
          "station list above " + std::to_string(kMaxStationListBytes) + " bytes, not sent";
      return text.c_str();
    }
  }
  return "unknown";
}

namespace {

std::size_t CheckedDepth(std::size_t reply_depth) {
  if (reply_depth == 0)
    throw std::invalid_argument("data_center::Client: a reply depth of 0 holds no answer");
  return reply_depth;
}

using Clock = std::chrono::steady_clock;

// Now plus `timeout`, saturated: a timeout of centuries is no limit either.
Clock::time_point DeadlineAfter(Client::Duration timeout) {
  const auto now = Clock::now();
  if (timeout >= Clock::time_point::max() - now) return Clock::time_point::max();
  return now + std::chrono::duration_cast<Clock::duration>(timeout);
}

// What is left until `deadline`; zero once it passed (a negative wait would mean no limit).
Client::Duration TimeLeft(Clock::time_point deadline) {
  const auto now = Clock::now();
  return now >= deadline ? Client::Duration::zero()
                         : std::chrono::duration_cast<Client::Duration>(deadline - now);
}

}  // namespace

// A group of its own that the node's executor never takes, added to an
// executor of its own: the client's answers are run only while a call waits
// for them, on the calling thread, so a call made from a callback of the
// node's executor does not wait on that executor. The reply history is
// deeper than the service's: other callers' replies fill it too
// (service_qos.hpp).
Client::Client(rclcpp::Node::SharedPtr node, const std::string & service_name, std::size_t reply_depth)
    : node_(std::move(node)),
      group_(node_->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, false)),
      client_(node_->create_client<Srv>(service_name, ClientQos(CheckedDepth(reply_depth)), group_)) {
  executor_.add_callback_group(group_, node_->get_node_base_interface());
}

std::string Client::service_name() const {
  return client_->get_service_name();
}

bool Client::WaitForService(Duration timeout) {
  return client_->wait_for_service(timeout);
}

Reply Client::Call(int32_t cmd_id, const Bytes & payload, Duration timeout) {
  Reply reply;
  // Waiting for the client's turn counts against the wait for the service:
  // a call queued behind another thread's long call gives up at its own
  // timeout, without sending anything.
  const bool unlimited = timeout < Duration::zero();
  const auto deadline = DeadlineAfter(timeout);
  std::unique_lock<std::timed_mutex> lock(mutex_, std::defer_lock);
  if (unlimited) {
    lock.lock();
  } else if (!lock.try_lock_until(deadline)) {
    reply.status = rclcpp::ok() ? CallStatus::kTimedOut : CallStatus::kInterrupted;
    return reply;
  }
  if (!client_->wait_for_service(unlimited ? timeout : TimeLeft(deadline))) {
    reply.status = rclcpp::ok() ? CallStatus::kNoService : CallStatus::kInterrupted;
    return reply;
  }
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = cmd_id;
  request->biz_data = payload;
  auto pending = client_->async_send_request(request);
  const rclcpp::FutureReturnCode waited = executor_.spin_until_future_complete(pending.future, timeout);
  if (waited != rclcpp::FutureReturnCode::SUCCESS) {
    // A late answer must not stay pending, nor complete a later call.
    client_->remove_pending_request(pending.request_id);
    reply.status =
        waited == rclcpp::FutureReturnCode::TIMEOUT ? CallStatus::kTimedOut : CallStatus::kInterrupted;
    return reply;
  }
  const auto response = pending.future.get();
  reply.status = response->code == kCodeOk ? CallStatus::kOk : CallStatus::kFailed;
  reply.code = response->code;
  reply.msg = response->msg;
  reply.payload.assign(response->biz_data.begin(), response->biz_data.end());
  return reply;
}

template <typename Message>
Result<Message> Client::CallFor(int32_t cmd_id, const Bytes & payload, Duration timeout) {
  Result<Message> result;
  static_cast<Reply &>(result) = Call(cmd_id, payload, timeout);
  // An answer with code 0 that is not the message is not a success; an empty
  // payload is the message with every field at its default.
  if (result.status == CallStatus::kOk &&
      (result.payload.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
       !result.answer.ParseFromArray(result.payload.data(), static_cast<int>(result.payload.size())))) {
    result.answer.Clear();
    result.status = CallStatus::kBadAnswer;
  }
  return result;
}

Result<MapInfo> Client::QueryLastMap(Duration timeout) {
  return CallFor<MapInfo>(kCmdQueryLastMap, {}, timeout);
}

Reply Client::IssueBaseStation(const BaseStationInfo & stations, Duration timeout) {
  // The node refuses a list above the limit as it comes and as it encodes it
  // to store it. What this client sends is protobuf's own encoding, which
  // encodes again to the same size, so that size decides both. Refused here,
  // the caller learns why instead of a bare 10006.
  if (stations.ByteSizeLong() > static_cast<std::size_t>(kMaxStationListBytes)) {
    Reply reply;
    reply.status = CallStatus::kTooLarge;
    return reply;
  }
  std::string wire;
  if (!stations.SerializeToString(&wire)) {
    throw std::length_error("data_center::Client: the station list is too big to encode");
  }
  return Call(kCmdIssueBaseStation, Bytes(wire.begin(), wire.end()), timeout);
}

Result<BaseStationInfo> Client::QueryBaseStation(Duration timeout) {
  return CallFor<BaseStationInfo>(kCmdQueryBaseStation, {}, timeout);
}

Result<RobotInfoResp> Client::QueryRobotInfo(Duration timeout) {
  return CallFor<RobotInfoResp>(kCmdQueryRobotInfo, {}, timeout);
}

}  // namespace data_center
