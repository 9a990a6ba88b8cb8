// The benchmark's client of robot_status_query, on the project's rclcpp API
// only, so that the node and the echo floor are measured the same way.
#ifndef DATA_CENTER_BENCH_SERVICE_CALLER_HPP_
#define DATA_CENTER_BENCH_SERVICE_CALLER_HPP_

#include <chrono>
#include <memory>
#include <string>

#include <korvane_protocol/srv/data_center_srv.hpp>
#include <rclcpp/rclcpp.hpp>

namespace bench {

using Srv = korvane_protocol::srv::DataCenterSrv;

class ServiceCaller {
 public:
  // rclcpp::init must have run.
  explicit ServiceCaller(const std::string & service);

  bool WaitForService(std::chrono::milliseconds limit);
  // Sends one request and spins until its answer. False on time-out or
  // shutdown, with the request forgotten so a late answer is dropped.
  bool Call(const Srv::Request::SharedPtr & request, std::chrono::milliseconds limit,
            Srv::Response::SharedPtr & response);

 private:
  rclcpp::Node::SharedPtr node_;
  rclcpp::Client<Srv>::SharedPtr client_;
};

}  // namespace bench

#endif  // DATA_CENTER_BENCH_SERVICE_CALLER_HPP_
