// SPDX-License-Identifier: Apache-2.0
// The entities every default rclcpp Humble node has besides its own: the
// /rosout and /parameter_events publishers, the parameter services and the
// /parameter_events subscription, with rclcpp's QoS; and, while use_sim_time
// is true, the /clock subscription of rclcpp's TimeSource.
#ifndef RCLCPP_COMPAT__PARAMETERS__NODE_DEFAULTS_HPP_
#define RCLCPP_COMPAT__PARAMETERS__NODE_DEFAULTS_HPP_

#include <memory>
#include <mutex>

#include "endpoints/topic_endpoints.hpp"
#include "parameters/parameter_services.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

class NodeDefaults {
 public:
  // `parameters` holds the node's parameters with the command line applied.
  // Throws RCLError when DDS refuses an endpoint.
  NodeDefaults(NodeCore & node, std::unique_ptr<NodeParameterStore> parameters);
  ~NodeDefaults();
  NodeDefaults(const NodeDefaults &) = delete;
  NodeDefaults & operator=(const NodeDefaults &) = delete;

 private:
  // Creates or destroys the /clock subscription.
  void use_sim_time(bool on);
  // rclcpp's QoS overriding parameters of the /clock subscription, and the
  // QoS they give. Throws as rclcpp does for a value of the wrong type or one
  // rmw does not know.
  rmw_qos_profile_t declare_clock_qos();

  NodeCore & node_;
  std::mutex clock_mutex_;
  std::unique_ptr<TopicSubscription> clock_;  // only while use_sim_time is true
  TopicPublisher rosout_;
  TopicPublisher parameter_events_;
  ParameterServices parameters_;
  TopicSubscription parameter_events_subscription_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__PARAMETERS__NODE_DEFAULTS_HPP_
