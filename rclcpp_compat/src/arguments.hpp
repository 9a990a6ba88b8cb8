// SPDX-License-Identifier: Apache-2.0
// Parsing of the --ros-args blocks of a process command line.
#ifndef RCLCPP_COMPAT__ARGUMENTS_HPP_
#define RCLCPP_COMPAT__ARGUMENTS_HPP_

#include <string>
#include <vector>

namespace rclcpp_compat {

// One -r rule: `[node:]from:=to`. `from` may be "__node"/"__name" or "__ns".
struct RemapRule {
  std::string node;
  std::string from;
  std::string to;
};

struct RosArguments {
  std::vector<RemapRule> remaps;
  // argv without the ROS blocks, program name first.
  std::vector<std::string> non_ros;
};

// Throws rclcpp::exceptions::UnknownROSArgsError for flags no ROS 2 tool
// knows and RCLInvalidROSArgsError for known flags used wrongly.
RosArguments parse_ros_arguments(int argc, char const * const * argv);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ARGUMENTS_HPP_
