// SPDX-License-Identifier: Apache-2.0
// ROS 2 name rules: validation, expansion of relative and private names, and
// applying -r rules.
#ifndef RCLCPP_COMPAT__COMMAND_LINE__NAMES_HPP_
#define RCLCPP_COMPAT__COMMAND_LINE__NAMES_HPP_

#include <string>
#include <vector>

#include "command_line/arguments.hpp"

namespace rclcpp_compat {

// An absolute ROS name ("/" or /tokens of alphanumerics and '_', none
// starting with a digit): namespaces and security enclaves.
bool valid_absolute_name(const std::string & name);

// Node name and namespace after __node/__ns rules; throws InvalidNodeNameError
// or InvalidNamespaceError.
void resolve_node_identity(const std::vector<RemapRule> & rules, std::string & name, std::string & ns);

// Fully qualified service name of `name` for the node, -r rules applied;
// throws InvalidServiceNameError.
std::string resolve_service(const std::vector<RemapRule> & rules, const std::string & node_name,
                            const std::string & node_ns, const std::string & name);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__COMMAND_LINE__NAMES_HPP_
