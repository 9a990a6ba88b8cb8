// The message types this build can carry over DDS.
#ifndef RCLCPP_COMPAT__WIRE_TYPES_HPP_
#define RCLCPP_COMPAT__WIRE_TYPES_HPP_

#include <korvane_protocol/srv/data_center_srv.hpp>

#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

template <>
const MessageWire & message_wire<korvane_protocol::srv::DataCenterSrv::Request>();
template <>
const MessageWire & message_wire<korvane_protocol::srv::DataCenterSrv::Response>();

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__WIRE_TYPES_HPP_
