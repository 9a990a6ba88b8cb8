// SPDX-License-Identifier: Apache-2.0
#include "node_defaults.hpp"

#include <rcl_interfaces/msg/log.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>

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

}  // namespace

NodeDefaults::NodeDefaults(NodeCore & node)
    : rosout_(node, "/rosout", type_of<rcl_interfaces::msg::Log>(), rosout_qos()),
      parameter_events_(node, "/parameter_events", type_of<rcl_interfaces::msg::ParameterEvent>(),
                        rmw_qos_profile_parameter_events),
      parameters_(node, parameter_events_),
      // rclcpp's TimeSource listens for changes of this node's use_sim_time;
      // here it cannot change (see the parameter services), so samples are
      // only taken to keep the reader empty.
      parameter_events_subscription_(node, "/parameter_events",
                                     type_of<rcl_interfaces::msg::ParameterEvent>(),
                                     rmw_qos_profile_parameter_events, [](const void *) {}) {
  // rclcpp announces each parameter as it declares it.
  for (const auto & declared : parameters_.declared_events()) {
    parameter_events_.publish(&declared);
  }
}

NodeDefaults::~NodeDefaults() = default;

}  // namespace rclcpp_compat
