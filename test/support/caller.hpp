// SPDX-License-Identifier: Apache-2.0
// An in-process client of robot_status_query, for tests that check answers
// byte by byte or keep requests in flight on their own terms.
#ifndef DATA_CENTER_TEST__SUPPORT__CALLER_HPP_
#define DATA_CENTER_TEST__SUPPORT__CALLER_HPP_

#include <chrono>
#include <cstdint>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <optional>
#include <rclcpp/rclcpp.hpp>
#include <string>

namespace e2e {

using Srv = korvane_protocol::srv::DataCenterSrv;

// The answer of the robot-info command, whatever the request holds.
inline const std::string kRobotInfoBytes("\x0a\x09\x08\xb8\x17\x10\x28\x18\x80\xf1\x04", 11);

// The DDS domain of this process. The first call fixes it (the layer creates
// one participant per process and keeps it); later calls in the same process
// get the same domain back, so tests run one after another in one process
// share it, while ctest runs each test in a process of its own.
int ProcessDomain(int wanted);

// A client of robot_status_query on ProcessDomain().
class Caller {
 public:
  struct Reply {
    int32_t code = 0;
    std::string msg;
    std::string payload;
  };

  explicit Caller(int domain_id);
  ~Caller();
  Caller(const Caller &) = delete;
  Caller & operator=(const Caller &) = delete;

  int domain() const { return domain_; }

  // Sends one request and waits up to `limit` for its reply; nothing when no
  // reply came (the request is then forgotten).
  std::optional<Reply> Call(int32_t cmd_id, const std::string & payload, std::chrono::milliseconds limit);
  // For a node that is just starting: repeats the call (each attempt waiting
  // `attempt`) until one is answered or `limit` has passed.
  std::optional<Reply> CallUntilAnswered(int32_t cmd_id, const std::string & payload,
                                         std::chrono::milliseconds limit,
                                         std::chrono::milliseconds attempt = std::chrono::milliseconds(300));

  // The pieces of Call, for callers that wait on their own terms.
  rclcpp::Client<Srv>::FutureAndRequestId Send(int32_t cmd_id, const std::string & payload);
  // Runs the client's callbacks for up to `slice`; true once `future` is ready.
  bool Poll(const rclcpp::Client<Srv>::FutureAndRequestId & future, std::chrono::milliseconds slice);
  static Reply Take(rclcpp::Client<Srv>::FutureAndRequestId & future);
  void Forget(int64_t request_id) { client_->remove_pending_request(request_id); }

 private:
  int domain_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<Srv>::SharedPtr client_;
};

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__CALLER_HPP_
