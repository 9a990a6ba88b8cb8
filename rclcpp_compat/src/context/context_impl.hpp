// SPDX-License-Identifier: Apache-2.0
// The process's one context: arguments, shutdown state and the DDS
// participant shared by all nodes, with its domain and security.
#ifndef RCLCPP_COMPAT__CONTEXT__CONTEXT_IMPL_HPP_
#define RCLCPP_COMPAT__CONTEXT__CONTEXT_IMPL_HPP_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "command_line/arguments.hpp"
#include "rclcpp_compat/security.hpp"

namespace rclcpp_compat {

class ContextImpl {
 public:
  static ContextImpl & instance();

  void init(RosArguments args);
  bool ok() const;
  // False when not running (never initialised, or already shut down).
  bool shutdown(const std::string & reason);
  std::string shutdown_reason() const;

  // Throws RCLError unless the context is running.
  void require_running() const;
  RosArguments arguments() const;

  // Created on first use; throws RCLError when DDS refuses.
  int32_t participant();
  // Triggered by shutdown; every wait loop attaches it.
  int32_t shutdown_guard();

 private:
  ContextImpl() = default;
  mutable std::mutex mutex_;
  bool initialized_ = false;
  bool shut_down_ = false;
  std::string shutdown_reason_;
  RosArguments args_;
  // What the participant says in its USER_DATA, and its security.
  std::string enclave_ = "/";
  SecurityOptions security_;
  uint32_t domain_id_ = 0;
  bool localhost_only_ = true;
  int32_t participant_ = 0;
  int32_t guard_ = 0;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CONTEXT__CONTEXT_IMPL_HPP_
