// SPDX-License-Identifier: Apache-2.0
#include "parameters/node_defaults.hpp"

#include <exception>
#include <functional>
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

#include "rclcpp/exceptions.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp_compat {
namespace {

using ParameterValue = rcl_interfaces::msg::ParameterValue;

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

ParameterValue string_value(const std::string & text) {
  ParameterValue v;
  v.type = rcl_interfaces::msg::ParameterType::PARAMETER_STRING;
  v.string_value = text;
  return v;
}

using PolicyNames = std::vector<std::pair<std::string, int>>;  // rmw's names

const PolicyNames kDurability = {{"system_default", RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT},
                                 {"transient_local", RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL},
                                 {"volatile", RMW_QOS_POLICY_DURABILITY_VOLATILE}};
const PolicyNames kHistory = {{"system_default", RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT},
                              {"keep_last", RMW_QOS_POLICY_HISTORY_KEEP_LAST},
                              {"keep_all", RMW_QOS_POLICY_HISTORY_KEEP_ALL}};
const PolicyNames kReliability = {{"system_default", RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT},
                                  {"reliable", RMW_QOS_POLICY_RELIABILITY_RELIABLE},
                                  {"best_effort", RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT}};

std::string name_of(const PolicyNames & names, int value) {
  for (const auto & n : names) {
    if (n.second == value) {
      return n.first;
    }
  }
  return "unknown";
}

int policy_value(const std::string & policy, const PolicyNames & names, const std::string & text) {
  for (const auto & n : names) {
    if (n.first == text) {
      return n.second;
    }
  }
  // rclcpp's words for a value rmw does not know.
  throw std::invalid_argument("unknown QoS policy " + policy + " value: " + text);
}

// rclcpp's QoS overriding: one read-only parameter per policy, in rclcpp's
// order, whose value (the default, or the command line's) becomes the QoS.
// `value_of(policy, default)` declares or reads the parameter.
rmw_qos_profile_t overridden_qos(
    rmw_qos_profile_t qos,
    const std::function<ParameterValue(const std::string &, const ParameterValue &)> & value_of) {
  qos.durability = static_cast<rmw_qos_durability_policy_t>(
      policy_value("durability", kDurability,
                   value_of("durability", string_value(name_of(kDurability, qos.durability))).string_value));
  qos.history = static_cast<rmw_qos_history_policy_t>(policy_value(
      "history", kHistory, value_of("history", string_value(name_of(kHistory, qos.history))).string_value));
  ParameterValue depth;
  depth.type = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER;
  depth.integer_value = static_cast<int64_t>(qos.depth);
  qos.depth = static_cast<size_t>(value_of("depth", depth).integer_value);
  qos.reliability = static_cast<rmw_qos_reliability_policy_t>(policy_value(
      "reliability", kReliability,
      value_of("reliability", string_value(name_of(kReliability, qos.reliability))).string_value));
  return qos;
}

// The /parameter_events publisher's QoS, as rclcpp Humble's Node makes it:
// from command-line values named `qos_overrides./parameter_events.<policy>`,
// without the `publisher.` of the parameters it declares, so values given
// for those show in the parameters and leave the QoS as it is (seen with a
// Humble node: `...publisher.depth:=20` reads 20, its writer keeps 1000).
rmw_qos_profile_t parameter_events_qos(const NodeParameterStore & parameters) {
  return overridden_qos(rmw_qos_profile_parameter_events,
                        [&](const std::string & policy, const ParameterValue & default_value) {
                          const std::string name = "qos_overrides./parameter_events." + policy;
                          auto value = parameters.override_value(name);
                          if (value.type == rcl_interfaces::msg::ParameterType::PARAMETER_NOT_SET) {
                            return default_value;
                          }
                          if (value.type != default_value.type) {
                            throw rclcpp::exceptions::InvalidParameterTypeException(
                                name, "the QoS policy " + policy + " takes a value of another type");
                          }
                          return value;
                        });
}

}  // namespace

NodeDefaults::NodeDefaults(NodeCore & node, std::unique_ptr<NodeParameterStore> parameters)
    : node_(node),
      rosout_(node, "/rosout", type_of<rcl_interfaces::msg::Log>(), rosout_qos()),
      parameter_events_(node, "/parameter_events", type_of<rcl_interfaces::msg::ParameterEvent>(),
                        parameter_events_qos(*parameters)),
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
  // rclcpp announces each parameter as it declares it.
  for (const auto & declared : parameters_.declared_events()) {
    parameter_events_.publish(&declared);
  }
  // TimeSource subscribes to /clock if use_sim_time is true.
  use_sim_time(parameters_.use_sim_time());
}

NodeDefaults::~NodeDefaults() {
  std::lock_guard<std::mutex> lock(clock_mutex_);
  clock_.reset();
}

rmw_qos_profile_t NodeDefaults::declare_clock_qos() {
  return overridden_qos(clock_qos(), [this](const std::string & policy, const ParameterValue & value) {
    rcl_interfaces::msg::ParameterDescriptor descriptor;
    descriptor.description = "qos policy {" + policy + "} for subscription {/clock}";
    descriptor.read_only = true;
    return parameters_.declare("qos_overrides./clock.subscription." + policy, value, descriptor);
  });
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
