// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__NODE_INTERFACES__NODE_BASE_INTERFACE_HPP_
#define RCLCPP__NODE_INTERFACES__NODE_BASE_INTERFACE_HPP_

#include <memory>
#include <utility>

#include "rclcpp_compat/core.hpp"

namespace rclcpp {
class Node;
namespace node_interfaces {
class NodeBaseInterface;
}  // namespace node_interfaces
}  // namespace rclcpp

namespace rclcpp_compat {
// The node's wait set, which names its participant and keeps its graph entry.
std::shared_ptr<NodeCore::WaitSet> node_wait_set(rclcpp::node_interfaces::NodeBaseInterface & node_base);
}  // namespace rclcpp_compat

namespace rclcpp {
namespace node_interfaces {

// What Node::get_node_base_interface() hands to an executor's
// add_callback_group; the layer offers none of rclcpp's members on it.
class NodeBaseInterface {
 public:
  using SharedPtr = std::shared_ptr<NodeBaseInterface>;
  virtual ~NodeBaseInterface() = default;

 private:
  friend class rclcpp::Node;
  friend std::shared_ptr<rclcpp_compat::NodeCore::WaitSet> rclcpp_compat::node_wait_set(
      NodeBaseInterface & node_base);
  explicit NodeBaseInterface(std::shared_ptr<rclcpp_compat::NodeCore::WaitSet> wait_set)
      : wait_set_(std::move(wait_set)) {}

  std::shared_ptr<rclcpp_compat::NodeCore::WaitSet> wait_set_;
};

}  // namespace node_interfaces
}  // namespace rclcpp

namespace rclcpp_compat {
inline std::shared_ptr<NodeCore::WaitSet> node_wait_set(
    rclcpp::node_interfaces::NodeBaseInterface & node_base) {
  return node_base.wait_set_;
}
}  // namespace rclcpp_compat

#endif  // RCLCPP__NODE_INTERFACES__NODE_BASE_INTERFACE_HPP_
