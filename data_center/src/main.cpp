// SPDX-License-Identifier: Apache-2.0
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include <korvane_protocol/srv/data_center_srv.hpp>
#include <rclcpp/rclcpp.hpp>

#include "data_center/protocol.hpp"
#include "logger.hpp"
#include "query_handler.hpp"
#include "service_qos.hpp"

int main(int argc, char ** argv) {
  rclcpp::init(argc, argv);

  const std::string log_path = std::string("/opt/korvane/logs/") + "data_center/data_center_log_file";
  data_center::InitLogger(data_center::GetLogger(), log_path, 1, "data_center");

  data_center::QueryHandler handler;
  auto node = std::make_shared<rclcpp::Node>("data_center");
  auto service = node->create_service<korvane_protocol::srv::DataCenterSrv>(
      data_center::kServiceName,
      std::bind(&data_center::QueryHandler::HandleQuery, &handler, std::placeholders::_1,
                std::placeholders::_2),
      data_center::ServiceQos());
  std::cout << "after advertiseService " << data_center::kServiceName << std::endl;

  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}
