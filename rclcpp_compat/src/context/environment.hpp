// SPDX-License-Identifier: Apache-2.0
// What the process environment says about the context's DDS domain, read as
// ROS 2 Humble (rcl, rmw_cyclonedds_cpp) reads it.
#ifndef RCLCPP_COMPAT__CONTEXT__ENVIRONMENT_HPP_
#define RCLCPP_COMPAT__CONTEXT__ENVIRONMENT_HPP_

#include <cstdint>
#include <string>

namespace rclcpp_compat {

// ROS_DOMAIN_ID as ROS 2 Humble reads it (throws RCLError when invalid).
uint32_t domain_id_from_env();
// True unless ROS_LOCALHOST_ONLY is "0".
bool localhost_only_from_env();
// The Cyclone configuration of the context's domain: the loopback interface
// when `localhost_only`, then CYCLONEDDS_URI.
std::string domain_config(bool localhost_only);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CONTEXT__ENVIRONMENT_HPP_
