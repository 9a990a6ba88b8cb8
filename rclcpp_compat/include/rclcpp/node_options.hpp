// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__NODE_OPTIONS_HPP_
#define RCLCPP__NODE_OPTIONS_HPP_

#include <string>
#include <vector>

namespace rclcpp {

// The options rclcpp's Node takes; only node-level --ros-args remapping is
// acted on here, through the process arguments given to rclcpp::init.
class NodeOptions {
 public:
  NodeOptions() = default;
  const std::vector<std::string> & arguments() const { return arguments_; }
  NodeOptions & arguments(const std::vector<std::string> & arguments) {
    arguments_ = arguments;
    return *this;
  }
  bool use_global_arguments() const { return use_global_arguments_; }
  NodeOptions & use_global_arguments(bool use) {
    use_global_arguments_ = use;
    return *this;
  }

 private:
  std::vector<std::string> arguments_;
  bool use_global_arguments_ = true;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_OPTIONS_HPP_
