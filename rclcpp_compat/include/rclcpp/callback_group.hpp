// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__CALLBACK_GROUP_HPP_
#define RCLCPP__CALLBACK_GROUP_HPP_

#include <memory>

#include "rclcpp_compat/core.hpp"

namespace rclcpp {
class CallbackGroup;
}  // namespace rclcpp

namespace rclcpp_compat {
// The layer's state of a group; rclcpp's CallbackGroup has no such member.
GroupCore & group_core(rclcpp::CallbackGroup & group);
}  // namespace rclcpp_compat

namespace rclcpp {

enum class CallbackGroupType { MutuallyExclusive, Reentrant };

// The layer runs every callback on the thread that spins, one at a time. It
// takes a group only for a client, and only one made with
// automatically_add_to_executor_with_node = false: such a client is run by
// the executor the group was added to (executors::SingleThreadedExecutor),
// never by spinning its node, as in rclcpp. Other uses are refused.
class CallbackGroup {
 public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;

  explicit CallbackGroup(CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true)
      : type_(group_type),
        automatically_add_to_executor_with_node_(automatically_add_to_executor_with_node) {}

  const CallbackGroupType & type() const { return type_; }
  bool automatically_add_to_executor_with_node() const { return automatically_add_to_executor_with_node_; }

 private:
  friend rclcpp_compat::GroupCore & rclcpp_compat::group_core(CallbackGroup & group);

  CallbackGroupType type_;
  bool automatically_add_to_executor_with_node_;
  rclcpp_compat::GroupCore core_;
};

}  // namespace rclcpp

namespace rclcpp_compat {
inline GroupCore & group_core(rclcpp::CallbackGroup & group) {
  return group.core_;
}
}  // namespace rclcpp_compat

#endif  // RCLCPP__CALLBACK_GROUP_HPP_
