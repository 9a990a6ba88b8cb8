// SPDX-License-Identifier: Apache-2.0
// The process's one context: arguments, shutdown state, signal handling and
// the DDS participant shared by all nodes.
#ifndef RCLCPP_COMPAT__CONTEXT_IMPL_HPP_
#define RCLCPP_COMPAT__CONTEXT_IMPL_HPP_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "arguments.hpp"

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
  uint32_t domain_id_ = 0;
  bool localhost_only_ = true;
  int32_t participant_ = 0;
  int32_t guard_ = 0;
};

// ROS_DOMAIN_ID as ROS 2 Humble reads it (throws RCLError when invalid).
uint32_t domain_id_from_env();
// True unless ROS_LOCALHOST_ONLY is "0".
bool localhost_only_from_env();
// The Cyclone configuration of the context's domain: the loopback interface
// when `localhost_only`, then CYCLONEDDS_URI.
std::string domain_config(bool localhost_only);

// Signal handling: a handler that only writes to a pipe, and a thread that
// turns the byte into a context shutdown outside signal context.
void install_signal_handlers(bool sigint, bool sigterm);
void uninstall_signal_handlers();

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CONTEXT_IMPL_HPP_
