// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__CALLBACK_GROUP_HPP_
#define RCLCPP__CALLBACK_GROUP_HPP_

#include <memory>

namespace rclcpp {

enum class CallbackGroupType { MutuallyExclusive, Reentrant };

// Constructible as in rclcpp, but the layer runs every callback on the
// spinning thread, so create_service and create_client refuse a group.
class CallbackGroup {
 public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;

  explicit CallbackGroup(CallbackGroupType /*group_type*/,
                         bool /*automatically_add_to_executor_with_node*/ = true) {}
};

}  // namespace rclcpp

#endif  // RCLCPP__CALLBACK_GROUP_HPP_
