// SPDX-License-Identifier: Apache-2.0
// Parsing of the --ros-args blocks of a process command line.
#ifndef RCLCPP_COMPAT__COMMAND_LINE__ARGUMENTS_HPP_
#define RCLCPP_COMPAT__COMMAND_LINE__ARGUMENTS_HPP_

#include <functional>
#include <string>
#include <vector>

#include "command_line/parameter_overrides.hpp"

namespace rclcpp_compat {

// One -r rule: `[node:]from:=to`. `from` may be "__node"/"__name" or "__ns".
struct RemapRule {
  std::string node;
  std::string from;
  std::string to;
};

struct RosArguments {
  std::vector<RemapRule> remaps;
  // -p rules and --params-file files, in command-line order.
  ParameterOverrides parameters;
  // -e/--enclave, the last one given; empty when none was.
  std::string enclave;
  // argv without the ROS blocks, program name first.
  std::vector<std::string> non_ros;
};

// Reads the params file at `path` into the overrides; throws
// ParameterParseError. parse_params_file unless a test says otherwise.
using ParamsFileParser = std::function<void(const std::string & path, ParameterOverrides & out)>;

// Throws rclcpp::exceptions::UnknownROSArgsError for flags no ROS 2 tool
// knows and RCLInvalidROSArgsError for known flags used wrongly, for a -p
// rule or a params file rcl would refuse, or for a file that cannot be read.
RosArguments parse_ros_arguments(int argc, char const * const * argv,
                                 const ParamsFileParser & params_file = parse_params_file);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__COMMAND_LINE__ARGUMENTS_HPP_
