// SPDX-License-Identifier: Apache-2.0
#include "node_defaults.hpp"

#include <exception>
#include <iostream>
#include <rcl_interfaces/msg/log.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rosgraph_msgs/msg/clock.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

namespace {

rcl_interfaces::msg::ParameterValue string_value(const std::string & text) {
  rcl_interfaces::msg::ParameterValue v;
  v.type = rcl_interfaces::msg::ParameterType::PARAMETER_STRING;
  v.string_value = text;
  return v;
}

// One policy of rclcpp's QoS overriding for the /clock subscription: a
// read-only parameter `qos_overrides./clock.subscription.<policy>` whose
// value (the default, or the command line's) becomes the QoS.
struct StringPolicy {
  const char * name;
  std::vector<std::pair<std::string, int>> values;  // rmw's names
};

int policy_value(const std::string & policy, const std::vector<std::pair<std::string, int>> & names,
                 const std::string & text) {
  for (const auto & n : names) {
    if (n.first == text) {
      return n.second;
    }
  }
  // rclcpp's words for a value rmw does not know.
  throw std::invalid_argument("unknown QoS policy " + policy + " value: " + text);
}

rcl_interfaces::msg::ParameterDescriptor qos_descriptor(const std::string & policy) {
  rcl_interfaces::msg::ParameterDescriptor d;
  d.description = "qos policy {" + policy + "} for subscription {/clock}";
  d.read_only = true;
  return d;
}

}  // namespace

rmw_qos_profile_t NodeDefaults::declare_clock_qos() {
  // rclcpp's order of the policies it allows for subscriptions.
  const std::string prefix = "qos_overrides./clock.subscription.";
  rmw_qos_profile_t qos = clock_qos();
  const std::vector<std::pair<std::string, int>> durability = {
      {"system_default", RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT},
      {"transient_local", RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL},
      {"volatile", RMW_QOS_POLICY_DURABILITY_VOLATILE}};
  const std::vector<std::pair<std::string, int>> history = {
      {"system_default", RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT},
      {"keep_last", RMW_QOS_POLICY_HISTORY_KEEP_LAST},
      {"keep_all", RMW_QOS_POLICY_HISTORY_KEEP_ALL}};
  const std::vector<std::pair<std::string, int>> reliability = {
      {"system_default", RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT},
      {"reliable", RMW_QOS_POLICY_RELIABILITY_RELIABLE},
      {"best_effort", RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT}};
  const auto name_of = [](const std::vector<std::pair<std::string, int>> & names, int value) {
    for (const auto & n : names) {
      if (n.second == value) {
        return n.first;
      }
    }
    return std::string("unknown");
  };

  auto v = parameters_.declare(prefix + "durability", string_value(name_of(durability, qos.durability)),
                               qos_descriptor("durability"));
  qos.durability =
      static_cast<rmw_qos_durability_policy_t>(policy_value("durability", durability, v.string_value));
  v = parameters_.declare(prefix + "history", string_value(name_of(history, qos.history)),
                          qos_descriptor("history"));
  qos.history = static_cast<rmw_qos_history_policy_t>(policy_value("history", history, v.string_value));
  rcl_interfaces::msg::ParameterValue depth;
  depth.type = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER;
  depth.integer_value = static_cast<int64_t>(qos.depth);
  v = parameters_.declare(prefix + "depth", depth, qos_descriptor("depth"));
  qos.depth = static_cast<size_t>(v.integer_value);
  v = parameters_.declare(prefix + "reliability", string_value(name_of(reliability, qos.reliability)),
                          qos_descriptor("reliability"));
  qos.reliability =
      static_cast<rmw_qos_reliability_policy_t>(policy_value("reliability", reliability, v.string_value));
  return qos;
}

void NodeDefaults::use_sim_time(bool on) {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  if (!on) {
    clock_.reset();
  } else if (!clock_) {
    // As rclcpp's TimeSource: the QoS parameters first (declared once, kept
    // after the subscription goes), then the subscription. Nothing in the
    // layer reads the time, so samples only keep the reader empty.
    const rmw_qos_profile_t qos = declare_clock_qos();
    clock_ = std::make_unique<TopicSubscription>(node_, "/clock", type_of<rosgraph_msgs::msg::Clock>(), qos,
                                                 [](const void *) {});
  }
}

}  // namespace rclcpp_compat
