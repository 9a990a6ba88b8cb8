#ifndef RCLCPP__CALLBACK_GROUP_HPP_
#define RCLCPP__CALLBACK_GROUP_HPP_

#include <memory>

namespace rclcpp {

// Accepted for signature compatibility; every callback runs on the spinning
// thread, one at a time.
class CallbackGroup {
 public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;
};

}  // namespace rclcpp

#endif  // RCLCPP__CALLBACK_GROUP_HPP_
