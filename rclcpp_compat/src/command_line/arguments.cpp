// SPDX-License-Identifier: Apache-2.0
#include "command_line/arguments.hpp"

#include <set>
#include <utility>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {
namespace {

// Flags that take a value. Those about logging do not apply to this layer:
// their value is accepted and dropped.
const std::set<std::string> kFlagsWithValue = {"-p", "--param",   "--params-file",    "--log-level",
                                               "-e", "--enclave", "--log-config-file"};
const std::set<std::string> kSwitches = {"--enable-rosout-logs",       "--disable-rosout-logs",
                                         "--enable-stdout-logs",       "--disable-stdout-logs",
                                         "--enable-external-lib-logs", "--disable-external-lib-logs"};

RemapRule parse_remap(const std::string & rule) {
  const auto sep = rule.find(":=");
  if (sep == std::string::npos) {
    throw rclcpp::exceptions::RCLInvalidROSArgsError("Couldn't parse remap rule: '" + rule +
                                                     "' (expected [node:]from:=to)");
  }
  RemapRule out;
  std::string lhs = rule.substr(0, sep);
  out.to = rule.substr(sep + 2);
  const auto colon = lhs.find(':');
  if (colon != std::string::npos) {
    out.node = lhs.substr(0, colon);
    lhs = lhs.substr(colon + 1);
    if (out.node.empty()) {
      throw rclcpp::exceptions::RCLInvalidROSArgsError("Couldn't parse remap rule: '" + rule +
                                                       "' (empty node name)");
    }
  }
  out.from = std::move(lhs);
  if (out.from.empty() || out.to.empty()) {
    throw rclcpp::exceptions::RCLInvalidROSArgsError("Couldn't parse remap rule: '" + rule +
                                                     "' (empty name)");
  }
  if (out.from == "__name") {
    out.from = "__node";
  }
  return out;
}

// rcl's wording, which quotes flag and value.
[[noreturn]] void throw_parameter_error(const char * what, const std::string & flag,
                                        const std::string & value, const ParameterParseError & error) {
  std::string text = what;
  text += flag;
  text += ' ';
  text += value;
  text += "'. Error: ";
  text += error.what();
  throw rclcpp::exceptions::RCLInvalidROSArgsError(text);
}

}  // namespace

RosArguments parse_ros_arguments(int argc, char const * const * argv, const ParamsFileParser & params_file) {
  RosArguments args;
  std::vector<std::string> unknown;
  bool in_ros_block = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    if (!in_ros_block) {
      if (i > 0 && arg == "--ros-args") {
        in_ros_block = true;
      } else {
        args.non_ros.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      in_ros_block = false;
    } else if (arg == "--ros-args" || kSwitches.count(arg) != 0u) {
      // a repeated block opener or a logging switch: nothing to do
    } else if (arg == "-r" || arg == "--remap" || kFlagsWithValue.count(arg) != 0u) {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        throw rclcpp::exceptions::RCLInvalidROSArgsError("Couldn't parse trailing '" + arg +
                                                         "' flag: no value given");
      }
      const std::string value = argv[++i];
      if (arg == "-r" || arg == "--remap") {
        args.remaps.push_back(parse_remap(value));
      } else if (arg == "-p" || arg == "--param") {
        try {
          parse_param_rule(value, args.parameters);
        } catch (const ParameterParseError & e) {
          throw_parameter_error("Couldn't parse parameter override rule: '", arg, value, e);
        }
      } else if (arg == "-e" || arg == "--enclave") {
        args.enclave = value;
      } else if (arg == "--params-file") {
        try {
          params_file(value, args.parameters);
        } catch (const ParameterParseError & e) {
          throw_parameter_error("Couldn't parse params file: '", arg, value, e);
        }
      }
    } else {
      unknown.push_back(arg);
    }
  }
  if (!unknown.empty()) {
    throw rclcpp::exceptions::UnknownROSArgsError(std::move(unknown));
  }
  return args;
}

}  // namespace rclcpp_compat

namespace rclcpp {
namespace exceptions {
namespace {
std::string join_unknown(const std::vector<std::string> & args) {
  std::string text = "found unknown ROS arguments: ";
  for (size_t i = 0; i < args.size(); ++i) {
    text += (i != 0u ? ", '" : "'") + args[i] + "'";
  }
  return text;
}
}  // namespace

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in)
    : std::runtime_error(join_unknown(unknown_ros_args_in)),
      unknown_ros_args(std::move(unknown_ros_args_in)) {}

}  // namespace exceptions
}  // namespace rclcpp
