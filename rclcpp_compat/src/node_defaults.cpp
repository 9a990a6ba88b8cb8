// SPDX-License-Identifier: Apache-2.0
#include "node_defaults.hpp"

#include <exception>
#include <iostream>
#include <rcl_interfaces/msg/log.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rosgraph_msgs/msg/clock.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <utility>

#include "rmw/qos_profiles.h"

namespace rclcpp_compat {
namespace {

template <class MsgT>
const rosidl_message_type_support_t * type_of() {
  return rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MsgT>();
}

// rcl's rcl_qos_profile_rosout_default (Humble): keep last 1000, reliable,
// transient local, lifespan 10 s.
rmw_qos_profile_t rosout_qos() {
  rmw_qos_profile_t qos = rmw_qos_profile_parameter_events;
  qos.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  qos.lifespan = {10, 0};
  return qos;
}

// rclcpp::ClockQoS (Humble): the sensor data profile (best effort,
// volatile) kept to the last sample.
rmw_qos_profile_t clock_qos() {
  rmw_qos_profile_t qos = rmw_qos_profile_parameter_events;
  qos.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
  qos.depth = 1;
  qos.reliability = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
  qos.durability = RMW_QOS_POLICY_DURABILITY_VOLATILE;
  return qos;
}

}  // namespace

NodeDefaults::NodeDefaults(NodeCore & node, std::unique_ptr<NodeParameterStore> parameters)
    : node_(node),
      rosout_(node, "/rosout", type_of<rcl_interfaces::msg::Log>(), rosout_qos()),
      parameter_events_(node, "/parameter_events", type_of<rcl_interfaces::msg::ParameterEvent>(),
                        rmw_qos_profile_parameter_events),
      parameters_(node, parameter_events_, std::move(parameters),
                  [this](bool on) {
                    // From a parameter service, on the spin thread: a failure
                    // there must not end the node.
                    try {
                      use_sim_time(on);
                    } catch (const std::exception & e) {
                      std::cerr << "[WARN] use_sim_time: " << e.what() << std::endl;
                    }
                  }),
      // rclcpp's TimeSource learns of changes to this node's use_sim_time
      // here; the layer acts on its own sets directly (see the parameter
      // services), so samples are only taken to keep the reader empty.
      parameter_events_subscription_(node, "/parameter_events",
                                     type_of<rcl_interfaces::msg::ParameterEvent>(),
                                     rmw_qos_profile_parameter_events, [](const void *) {}) {
  // rclcpp announces use_sim_time as it declares it, then subscribes to
  // /clock if it is true.
  const auto declared = parameters_.declared_event();
  parameter_events_.publish(&declared);
  use_sim_time(parameters_.use_sim_time());
}

NodeDefaults::~NodeDefaults() {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  clock_.reset();
}

void NodeDefaults::use_sim_time(bool on) {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  if (!on) {
    clock_.reset();
  } else if (!clock_) {
    // Nothing in the layer reads the time, so samples only keep the reader
    // empty.
    clock_ = std::make_unique<TopicSubscription>(node_, "/clock", type_of<rosgraph_msgs::msg::Clock>(),
                                                 clock_qos(), [](const void *) {});
  }
}

}  // namespace rclcpp_compat
