// SPDX-License-Identifier: Apache-2.0
// Parameter values from the command line (-p rules and --params-file YAML
// files), kept and matched against node names as rcl and rclcpp Humble do.
#ifndef RCLCPP_COMPAT__COMMAND_LINE__PARAMETER_OVERRIDES_HPP_
#define RCLCPP_COMPAT__COMMAND_LINE__PARAMETER_OVERRIDES_HPP_

#include <map>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace rclcpp_compat {

using ParameterValue = rcl_interfaces::msg::ParameterValue;

// Why a rule or a file was refused; the caller words the ROS argument error.
class ParameterParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What rcl collects from all -p rules and params files of a command line, in
// one structure: node name patterns in order of first appearance, each with
// its parameters in order of first appearance and the value written last.
// The order matters: a node takes the values of every pattern it matches, in
// this order, so a later pattern wins over an earlier one whatever the
// command-line order was.
class ParameterOverrides {
 public:
  struct Node {
    std::string pattern;  // as written: "/**", "data_center", "/ns/data_center"
    std::vector<std::pair<std::string, ParameterValue>> parameters;
  };

  // The slot of `parameter` under `pattern`, created (type NOT_SET) if new.
  ParameterValue & slot(const std::string & pattern, const std::string & parameter);
  const ParameterValue * find(const std::string & pattern, const std::string & parameter) const;
  const std::vector<Node> & nodes() const { return nodes_; }
  bool empty() const { return nodes_.empty(); }

  // The values for the node `node_fqn` (after remapping), later patterns
  // over earlier ones. Throws rclcpp::exceptions::InvalidParameterValueException
  // ("No parameter value set") for a matching slot that got no value (an
  // empty YAML sequence), as rclcpp does for any such parameter.
  std::map<std::string, ParameterValue> for_node(const std::string & node_fqn) const;

 private:
  std::vector<Node> nodes_;
};

// rclcpp's test of a pattern against a fully qualified node name: a leading
// "/" is implied, "/*" stands for one name component, "/**" for any number.
bool node_pattern_matches(const std::string & pattern, const std::string & node_fqn);

// One `[node:]name:=value` rule of -p; the value is YAML read as rcl reads it.
void parse_param_rule(const std::string & rule, ParameterOverrides & out);

// A params file's text (rcl's layout: node names, `ros__parameters:`,
// parameters, nested maps for dotted names).
void parse_params_yaml(const std::string & text, ParameterOverrides & out);
// The same, read from the file at `path` (a pipe too) as it goes.
void parse_params_file(const std::string & path, ParameterOverrides & out);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__COMMAND_LINE__PARAMETER_OVERRIDES_HPP_
