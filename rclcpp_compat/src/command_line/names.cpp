// SPDX-License-Identifier: Apache-2.0
#include "command_line/names.hpp"

#include <cctype>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {
namespace {

bool is_token_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool valid_node_name(const std::string & name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) != 0) {
    return false;
  }
  for (char c : name) {
    if (!is_token_char(c)) {
      return false;
    }
  }
  return true;
}

// An absolute name: "/", or "/"-separated tokens that do not start with a digit.

// "~" alone or "~/..." names the node's private namespace; "~x" names nothing
// and would otherwise expand to "/<node>x".
bool misplaced_tilde(const std::string & name) {
  return name.size() > 1 && name[0] == '~' && name[1] != '/';
}

std::string expand(const std::string & name, const std::string & node_name, const std::string & node_ns) {
  const std::string prefix = node_ns == "/" ? "" : node_ns;
  if (!name.empty() && name[0] == '/') {
    return name;
  }
  if (!name.empty() && name[0] == '~') {
    return prefix + "/" + node_name + name.substr(1);
  }
  return prefix + "/" + name;
}

bool rule_applies(const RemapRule & rule, const std::string & node_name) {
  return rule.node.empty() || rule.node == node_name;
}

}  // namespace

bool valid_absolute_name(const std::string & name) {
  if (name.empty() || name[0] != '/') {
    return false;
  }
  if (name == "/") {
    return true;
  }
  if (name.back() == '/') {
    return false;
  }
  bool token_start = true;
  for (size_t i = 1; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '/') {
      if (token_start) {
        return false;  // "//"
      }
      token_start = true;
      continue;
    }
    if (!is_token_char(c) || (token_start && std::isdigit(static_cast<unsigned char>(c)) != 0)) {
      return false;
    }
    token_start = false;
  }
  return true;
}

void resolve_node_identity(const std::vector<RemapRule> & rules, std::string & name, std::string & ns) {
  const std::string original = name;
  for (const auto & rule : rules) {
    if (rule.from == "__node" && rule_applies(rule, original)) {
      name = rule.to;
      break;
    }
  }
  for (const auto & rule : rules) {
    if (rule.from == "__ns" && rule_applies(rule, original)) {
      ns = rule.to;
      break;
    }
  }
  if (!valid_node_name(name)) {
    throw rclcpp::exceptions::InvalidNodeNameError(
        "Invalid node name: '" + name + "' (alphanumerics and '_' only, not starting with a digit)");
  }
  if (ns.empty()) {
    ns = "/";
  } else if (ns[0] != '/') {
    ns = "/" + ns;
  }
  if (!valid_absolute_name(ns)) {
    throw rclcpp::exceptions::InvalidNamespaceError("Invalid namespace: '" + ns + "'");
  }
}

std::string resolve_service(const std::vector<RemapRule> & rules, const std::string & node_name,
                            const std::string & node_ns, const std::string & name) {
  std::string fq = expand(name, node_name, node_ns);
  if (misplaced_tilde(name) || !valid_absolute_name(fq) || fq == "/") {
    throw rclcpp::exceptions::InvalidServiceNameError("Invalid service name: '" + name + "'");
  }
  for (const auto & rule : rules) {
    if (rule.from == "__node" || rule.from == "__ns" || !rule_applies(rule, node_name)) {
      continue;
    }
    if (expand(rule.from, node_name, node_ns) == fq) {
      fq = expand(rule.to, node_name, node_ns);
      if (misplaced_tilde(rule.to) || !valid_absolute_name(fq) || fq == "/") {
        throw rclcpp::exceptions::InvalidServiceNameError("Invalid service name after remapping: '" +
                                                          rule.to + "'");
      }
      break;
    }
  }
  return fq;
}

}  // namespace rclcpp_compat
