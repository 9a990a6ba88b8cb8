// SPDX-License-Identifier: Apache-2.0
// A layer service in a process of its own, for tests that need a peer across
// the network: answers each request on the service named by its first
// argument with code = cmd_id and the payload echoed. Prints "ready" once the
// service exists, "request <cmd_id>" for each request, and after a signal
// ends spin, "served <count>".
#include <iostream>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <memory>
#include <rclcpp/rclcpp.hpp>

int main(int argc, char ** argv) {
  using Srv = korvane_protocol::srv::DataCenterSrv;
  rclcpp::init(argc, argv);
  const auto args = rclcpp::remove_ros_arguments(argc, argv);
  if (args.size() != 2) {
    std::cerr << "usage: compat_echo_server SERVICE" << std::endl;
    return 2;
  }
  auto node = std::make_shared<rclcpp::Node>("compat_echo_server");
  size_t served = 0;
  auto service = node->create_service<Srv>(
      args[1], [&served](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        ++served;
        std::cout << "request " << request->cmd_id << std::endl;
        response->code = request->cmd_id;
        response->msg = "echo";
        response->biz_data = request->biz_data;
      });
  std::cout << "ready" << std::endl;
  rclcpp::spin(node);
  std::cout << "served " << served << std::endl;
  rclcpp::shutdown();
  return 0;
}
