// SPDX-License-Identifier: Apache-2.0
#include "rclcpp_compat/api_checks.hpp"

#include <cstdint>
#include <stdexcept>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/node_options.hpp"

namespace rclcpp_compat {
namespace {

[[noreturn]] void refuse(const std::string & what) {
  throw std::invalid_argument("rclcpp_compat: " + what);
}

bool unspecified(const rmw_time_t & t) {
  return t.sec == 0 && t.nsec == 0;
}

// RMW_DURATION_INFINITE, which rmw_cyclonedds_cpp maps to Cyclone's default.
bool infinite(const rmw_time_t & t) {
  return t.sec == 9223372036ull && t.nsec == 854775807ull;
}

}  // namespace

void check_node_options(const rclcpp::NodeOptions & options) {
  if (!options.arguments().empty()) {
    refuse("NodeOptions::arguments is not supported; pass ROS arguments to rclcpp::init");
  }
  if (!options.use_global_arguments()) {
    refuse(
        "NodeOptions::use_global_arguments(false) is not supported: every node applies the --ros-args "
        "given to rclcpp::init");
  }
}

void check_qos(const rmw_qos_profile_t & qos, const std::string & what) {
  const std::string prefix = what + ": ";
  switch (qos.history) {
    case RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_HISTORY_KEEP_LAST:
      if (qos.depth > INT32_MAX) {
        refuse(prefix + "history depth " + std::to_string(qos.depth) + " is out of range");
      }
      break;
    case RMW_QOS_POLICY_HISTORY_KEEP_ALL:
      break;
    default:
      refuse(prefix + "unknown history policy " + std::to_string(static_cast<int>(qos.history)));
  }
  if (qos.reliability != RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT &&
      qos.reliability != RMW_QOS_POLICY_RELIABILITY_RELIABLE &&
      qos.reliability != RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT) {
    refuse(prefix + "unknown reliability policy " + std::to_string(static_cast<int>(qos.reliability)));
  }
  if (qos.durability != RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT &&
      qos.durability != RMW_QOS_POLICY_DURABILITY_VOLATILE &&
      qos.durability != RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL) {
    refuse(prefix + "unknown durability policy " + std::to_string(static_cast<int>(qos.durability)));
  }
  // Deadline, lifespan and liveliness would need their events and timers too.
  if (!unspecified(qos.deadline) && !infinite(qos.deadline)) {
    refuse(prefix + "a deadline QoS is not supported");
  }
  if (!unspecified(qos.lifespan) && !infinite(qos.lifespan)) {
    refuse(prefix + "a lifespan QoS is not supported");
  }
  if (qos.liveliness != RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT &&
      qos.liveliness != RMW_QOS_POLICY_LIVELINESS_AUTOMATIC) {
    refuse(prefix + "liveliness policy " + std::to_string(static_cast<int>(qos.liveliness)) +
           " is not supported (only automatic)");
  }
  if (!unspecified(qos.liveliness_lease_duration) && !infinite(qos.liveliness_lease_duration)) {
    refuse(prefix + "a liveliness lease duration is not supported");
  }
  if (qos.avoid_ros_namespace_conventions) {
    refuse(prefix + "avoid_ros_namespace_conventions is not supported (topics are always rq/.../rr/...)");
  }
}

void check_callback_group(const rclcpp::CallbackGroup * group, const std::string & what) {
  if (group != nullptr) {
    refuse(what +
           ": callback groups are not supported; every callback runs on the thread that spins the node");
  }
}

void check_client_callback_group(const rclcpp::CallbackGroup * group, const std::string & what) {
  if (group != nullptr && group->automatically_add_to_executor_with_node()) {
    refuse(what +
           ": a callback group spun with its node is not supported; every callback runs on the thread "
           "that spins the node (a group made with automatically_add_to_executor_with_node = false, "
           "added to an executor, is)");
  }
}

void check_executor_callback_group(const rclcpp::CallbackGroup * group, bool executor_has_one) {
  if (group == nullptr) {
    refuse("add_callback_group: no callback group given");
  }
  if (group->automatically_add_to_executor_with_node()) {
    refuse(
        "add_callback_group: only a callback group made with automatically_add_to_executor_with_node = "
        "false is supported");
  }
  if (executor_has_one) {
    refuse("add_callback_group: an executor of the layer runs one callback group");
  }
}

}  // namespace rclcpp_compat
