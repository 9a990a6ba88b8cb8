// SPDX-License-Identifier: Apache-2.0
// --ros-args command lines: the input split at NUL bytes is argv. Parsing may
// only refuse with the two ROS argument errors, name resolution only with
// the invalid-name errors, and whatever they accept must be a valid ROS name.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <rclcpp/exceptions.hpp>
#include <rclcpp/utilities.hpp>

#include "arguments.hpp"
#include "fuzz_check.hpp"
#include "names.hpp"

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

void Run(const std::vector<std::string> & args) {
  std::vector<const char *> argv;
  for (const auto & a : args) {
    argv.push_back(a.c_str());
  }
  const int argc = static_cast<int>(argv.size());

  rclcpp_compat::RosArguments parsed;
  try {
    parsed = rclcpp_compat::parse_ros_arguments(argc, argv.data());
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
  FUZZ_CHECK(rclcpp::remove_ros_arguments(argc, argv.data()) == parsed.non_ros,
             "remove_ros_arguments disagrees with the parser");
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
