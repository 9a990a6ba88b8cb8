// SPDX-License-Identifier: Apache-2.0
// A typed client of robot_status_query for other nodes: one call per command,
// taking and returning the payload messages, with the node's result code and
// text, and how the call ended.
//
//   data_center::Client client(node);
//   auto info = client.QueryRobotInfo(std::chrono::seconds(2));
//   if (info.ok()) use(info.answer.job_info());
//
// The client waits for its answers in a callback group and executor of its
// own, so it may be called from any thread: from one that spins nothing, or
// from a callback of the node while an executor spins it. Calls on one
// client run one at a time: a call waits for its turn as part of its wait
// for the service (below).
#ifndef DATA_CENTER__CLIENT_HPP_
#define DATA_CENTER__CLIENT_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "data_center/payloads.hpp"
#include "data_center/protocol.hpp"
#include "korvane_protocol/srv/data_center_srv.hpp"
#include "rclcpp/rclcpp.hpp"

namespace data_center {

// How a call ended.
enum class CallStatus {
  kOk,           // answered with code 0 (typed calls: and a payload that decodes)
  kFailed,       // answered with a non-zero code: see code and msg
  kBadAnswer,    // answered with code 0, but the payload is not the expected message
  kNoService,    // the service did not appear within the timeout; nothing was sent
  kTimedOut,     // not answered within the timeout: sent, or (nothing sent) other calls
                 // of this client took the whole wait for the service
  kInterrupted,  // the context was shut down (Ctrl-C) while waiting
  kTooLarge,     // 10001: the list encodes above kMaxStationListBytes, which the node
                 // refuses; nothing was sent
};

// "ok", "failed", "bad answer", "no service", "timed out", "interrupted",
// "station list above 65536 bytes, not sent".
const char * ToString(CallStatus status);

using Bytes = std::vector<uint8_t>;

// The answer as it came. code, msg and payload are set when the service
// answered (kOk, kFailed, kBadAnswer).
struct Reply {
  CallStatus status = CallStatus::kNoService;
  int32_t code = 0;
  std::string msg;
  Bytes payload;

  bool ok() const { return status == CallStatus::kOk; }
};

// A reply with its payload decoded; `answer` is set when ok().
template <typename Message>
struct Result : Reply {
  Message answer;
};

class Client {
 public:
  using Duration = std::chrono::nanoseconds;
  static constexpr Duration kDefaultTimeout = std::chrono::seconds(5);

  // A client of `service_name` (relative names resolve in the node's
  // namespace, remapping applies) on `node`. Throws what
  // rclcpp::Node::create_client throws for an invalid name
  // (std::invalid_argument), and std::invalid_argument for a reply depth of
  // 0. `reply_depth`: the replies, its own and other callers', the client
  // holds until it takes them (kClientReplyDepth); an idle client holds no
  // more than that many.
  explicit Client(rclcpp::Node::SharedPtr node, const std::string & service_name = kServiceName,
                  std::size_t reply_depth = kClientReplyDepth);
  Client(const Client &) = delete;
  Client & operator=(const Client &) = delete;

  // The resolved name of the service.
  std::string service_name() const;

  // True once the service is there; false after `timeout` (negative: no
  // limit) or when the context is shut down.
  bool WaitForService(Duration timeout);

  // Every call waits up to `timeout` for its turn on this client (other
  // threads' calls on it run first) and the service together, then up to
  // `timeout` again for the answer; a negative timeout is no limit. A call
  // that does not get its turn in time sends nothing and returns kTimedOut.

  // Any command with any payload; `payload` of the reply is the answer as it
  // came, whatever the code.
  Reply Call(int32_t cmd_id, const Bytes & payload, Duration timeout = kDefaultTimeout);

  // 1002: the last used map.
  Result<MapInfo> QueryLastMap(Duration timeout = kDefaultTimeout);
  // 10001: replaces the stored station list. The service refuses an empty
  // list (kFailed, code kCodeDeserializeFailed). A list that encodes above
  // kMaxStationListBytes is not sent: kTooLarge, at once, without waiting
  // for the service.
  Reply IssueBaseStation(const BaseStationInfo & stations, Duration timeout = kDefaultTimeout);
  // 10002: the stored station list.
  Result<BaseStationInfo> QueryBaseStation(Duration timeout = kDefaultTimeout);
  // 10003: job statistics.
  Result<RobotInfoResp> QueryRobotInfo(Duration timeout = kDefaultTimeout);

 private:
  using Srv = korvane_protocol::srv::DataCenterSrv;

  template <typename Message>
  Result<Message> CallFor(int32_t cmd_id, const Bytes & payload, Duration timeout);

  rclcpp::Node::SharedPtr node_;
  rclcpp::CallbackGroup::SharedPtr group_;
  rclcpp::Client<Srv>::SharedPtr client_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  // The executor spins on one thread at a time (rclcpp throws otherwise);
  // timed, so that a call waits for its turn no longer than its timeout.
  std::timed_mutex mutex_;
};

}  // namespace data_center

#endif  // DATA_CENTER__CLIENT_HPP_
