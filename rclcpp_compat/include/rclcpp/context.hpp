// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__CONTEXT_HPP_
#define RCLCPP__CONTEXT_HPP_

#include <memory>
#include <string>

namespace rclcpp {

// Handle on the process's one context; its state lives in the library. Only
// the default one (contexts::get_global_default_context) is usable: the
// functions refuse any other with std::invalid_argument.
class Context {
 public:
  using SharedPtr = std::shared_ptr<Context>;
  bool is_valid() const;
  std::string shutdown_reason() const;
  bool shutdown(const std::string & reason);
};

namespace contexts {
Context::SharedPtr get_global_default_context();
}  // namespace contexts

}  // namespace rclcpp

#endif  // RCLCPP__CONTEXT_HPP_
