// SPDX-License-Identifier: Apache-2.0
// Arguments of the rclcpp API that the layer cannot honour are refused here,
// with std::invalid_argument naming what was asked, instead of being ignored.
#ifndef RCLCPP_COMPAT__API_CHECKS_HPP_
#define RCLCPP_COMPAT__API_CHECKS_HPP_

#include <string>

#include "rmw/types.h"

namespace rclcpp {
class CallbackGroup;
class NodeOptions;
}  // namespace rclcpp

namespace rclcpp_compat {

void check_node_options(const rclcpp::NodeOptions & options);
// `what` names the service or client for the message.
void check_qos(const rmw_qos_profile_t & qos, const std::string & what);
void check_callback_group(const rclcpp::CallbackGroup * group, const std::string & what);
// A client takes a group that is not spun with its node, for an executor of its own.
void check_client_callback_group(const rclcpp::CallbackGroup * group, const std::string & what);
// What SingleThreadedExecutor::add_callback_group takes.
void check_executor_callback_group(const rclcpp::CallbackGroup * group, bool executor_has_one);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__API_CHECKS_HPP_
