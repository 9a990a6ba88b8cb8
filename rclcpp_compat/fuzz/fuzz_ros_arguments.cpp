// SPDX-License-Identifier: Apache-2.0
// --ros-args command lines: the input split at NUL bytes is argv. Parsing may
// only refuse with the two ROS argument errors, name resolution only with
// the invalid-name errors, and whatever they accept must be a valid ROS name.
// A --params-file argument is parsed as the YAML text of the file, so that
// -p values and params files are fuzzed alike; whatever they give must be a
// well-formed parameter value, and a node may only refuse it with rclcpp's
// two parameter exceptions.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rclcpp/exceptions.hpp>
#include <rclcpp/utilities.hpp>

#include "command_line/arguments.hpp"
#include "command_line/names.hpp"
#include "fuzz_check.hpp"
#include "parameters/parameter_services.hpp"

namespace {

bool TokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool ValidNodeName(const std::string & name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) != 0) {
    return false;
  }
  for (const char c : name) {
    if (!TokenChar(c)) {
      return false;
    }
  }
  return true;
}

// "/" or "/a/b_c": tokens of [A-Za-z0-9_], none empty, none starting with a digit.
bool ValidAbsoluteName(const std::string & name) {
  if (name == "/") {
    return true;
  }
  if (name.size() < 2 || name[0] != '/') {
    return false;
  }
  size_t start = 1;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) {
      end = name.size();
    }
    const std::string token = name.substr(start, end - start);
    if (!ValidNodeName(token)) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

std::vector<std::string> SplitAtNul(const uint8_t * data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  return parts;
}

void CheckService(const std::vector<rclcpp_compat::RemapRule> & remaps, const std::string & node_name,
                  const std::string & node_ns, const std::string & name) {
  std::string resolved;
  try {
    resolved = rclcpp_compat::resolve_service(remaps, node_name, node_ns, name);
  } catch (const rclcpp::exceptions::InvalidServiceNameError &) {
    return;
  }
  FUZZ_CHECK(ValidAbsoluteName(resolved) && resolved != "/", "service '%s' resolved to invalid '%s'",
             name.c_str(), resolved.c_str());
}

// Arrays hold only the field of their type; scalars have a known type.
bool WellFormed(const rcl_interfaces::msg::ParameterValue & v) {
  using rcl_interfaces::msg::ParameterType;
  const size_t filled = (v.bool_array_value.empty() ? 0 : 1) + (v.integer_array_value.empty() ? 0 : 1) +
                        (v.double_array_value.empty() ? 0 : 1) + (v.string_array_value.empty() ? 0 : 1) +
                        (v.byte_array_value.empty() ? 0 : 1);
  switch (v.type) {
    case ParameterType::PARAMETER_NOT_SET:
    case ParameterType::PARAMETER_BOOL:
    case ParameterType::PARAMETER_INTEGER:
    case ParameterType::PARAMETER_DOUBLE:
    case ParameterType::PARAMETER_STRING:
      return filled == 0;
    case ParameterType::PARAMETER_BOOL_ARRAY:
      return filled == (v.bool_array_value.empty() ? 0u : 1u);
    case ParameterType::PARAMETER_INTEGER_ARRAY:
      return filled == (v.integer_array_value.empty() ? 0u : 1u);
    case ParameterType::PARAMETER_DOUBLE_ARRAY:
      return filled == (v.double_array_value.empty() ? 0u : 1u);
    case ParameterType::PARAMETER_STRING_ARRAY:
      return filled == (v.string_array_value.empty() ? 0u : 1u);
    default:
      return false;
  }
}

void CheckParameters(const rclcpp_compat::ParameterOverrides & overrides, const std::string & fqn) {
  for (const auto & node : overrides.nodes()) {
    FUZZ_CHECK(!node.pattern.empty(), "empty node pattern kept");
    for (const auto & p : node.parameters) {
      FUZZ_CHECK(!p.first.empty(), "empty parameter name kept for '%s'", node.pattern.c_str());
      FUZZ_CHECK(WellFormed(p.second), "malformed value of '%s' (type %d)", p.first.c_str(), p.second.type);
    }
  }
  std::map<std::string, rcl_interfaces::msg::ParameterValue> values;
  try {
    values = overrides.for_node(fqn);
  } catch (const rclcpp::exceptions::InvalidParameterValueException &) {
    return;
  }
  try {
    const rclcpp_compat::NodeParameterStore store(values);
    const auto declared = store.get({"use_sim_time"});
    FUZZ_CHECK(declared.size() == 1 && declared[0].type == rcl_interfaces::msg::ParameterType::PARAMETER_BOOL,
               "use_sim_time declared as something else than a bool");
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & e) {
    // Only a parameter the store declares, given a value on the command line,
    // can be refused for its type.
    const std::string what = e.what();
    bool named = false;
    for (const char * declared : {"use_sim_time", "qos_overrides./parameter_events.publisher.durability",
                                  "qos_overrides./parameter_events.publisher.history",
                                  "qos_overrides./parameter_events.publisher.depth",
                                  "qos_overrides./parameter_events.publisher.reliability"}) {
      named = named || (values.count(declared) != 0u &&
                        what.rfind("parameter '" + std::string(declared) + "'", 0) == 0);
    }
    FUZZ_CHECK(named, "type refused without an override of a declared parameter: %s", what.c_str());
  }
}

void Run(const std::vector<std::string> & args) {
  std::vector<const char *> argv;
  for (const auto & a : args) {
    argv.push_back(a.c_str());
  }
  const int argc = static_cast<int>(argv.size());

  rclcpp_compat::RosArguments parsed;
  try {
    parsed = rclcpp_compat::parse_ros_arguments(
        argc, argv.data(), [](const std::string & text, rclcpp_compat::ParameterOverrides & out) {
          rclcpp_compat::parse_params_yaml(text, out);
        });
  } catch (const rclcpp::exceptions::UnknownROSArgsError & e) {
    FUZZ_CHECK(!e.unknown_ros_args.empty(), "unknown-arguments error without arguments");
    FUZZ_CHECK(std::string(e.what()).rfind("found unknown ROS arguments: '", 0) == 0, "message: %s",
               e.what());
    return;
  } catch (const rclcpp::exceptions::RCLInvalidROSArgsError &) {
    return;
  }

  FUZZ_CHECK(!parsed.non_ros.empty() && parsed.non_ros[0] == args[0], "the program name was not kept first");
  FUZZ_CHECK(parsed.non_ros.size() + 2 * parsed.remaps.size() <= args.size(), "more arguments out than in");
  bool has_block = false;
  for (size_t i = 1; i < args.size(); ++i) {
    has_block = has_block || args[i] == "--ros-args";
  }
  FUZZ_CHECK(has_block || (parsed.non_ros == args && parsed.remaps.empty()),
             "a command line without --ros-args was changed");
  // remove_ros_arguments would open --params-file arguments as files.
  bool names_files = false;
  for (const auto & a : args) {
    names_files = names_files || a == "--params-file";
  }
  if (!names_files) {
    FUZZ_CHECK(rclcpp::remove_ros_arguments(argc, argv.data()) == parsed.non_ros,
               "remove_ros_arguments disagrees with the parser");
  }
  for (const auto & rule : parsed.remaps) {
    FUZZ_CHECK(!rule.from.empty() && !rule.to.empty() && rule.from != "__name", "remap rule '%s:%s:=%s' kept",
               rule.node.c_str(), rule.from.c_str(), rule.to.c_str());
  }

  std::string name = "data_center";
  std::string ns;
  try {
    rclcpp_compat::resolve_node_identity(parsed.remaps, name, ns);
  } catch (const rclcpp::exceptions::InvalidNodeNameError &) {
    return;
  } catch (const rclcpp::exceptions::InvalidNamespaceError &) {
    return;
  }
  FUZZ_CHECK(ValidNodeName(name), "node name '%s' accepted", name.c_str());
  FUZZ_CHECK(ValidAbsoluteName(ns), "namespace '%s' accepted", ns.c_str());
  CheckParameters(parsed.parameters, (ns == "/" ? "" : ns) + "/" + name);

  CheckService(parsed.remaps, name, ns, "robot_status_query");
  // Arguments outside the blocks stand in for names a program might use.
  for (size_t i = 1; i < parsed.non_ros.size() && i < 4; ++i) {
    CheckService(parsed.remaps, name, ns, parsed.non_ros[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  const std::vector<std::string> args = SplitAtNul(data, size);
  try {
    Run(args);
  } catch (const std::exception & e) {
    FUZZ_CHECK(false, "undocumented exception: %s", e.what());
  }
  return 0;
}
