// SPDX-License-Identifier: Apache-2.0
// The entities every default rclcpp Humble node has besides its own: the
// /rosout and /parameter_events publishers, the parameter services and the
// /parameter_events subscription, with rclcpp's QoS.
#ifndef RCLCPP_COMPAT__NODE_DEFAULTS_HPP_
#define RCLCPP_COMPAT__NODE_DEFAULTS_HPP_

#include <memory>

#include "parameter_services.hpp"
#include "rclcpp_compat/core.hpp"
#include "topic_endpoint.hpp"

namespace rclcpp_compat {

class NodeDefaults {
 public:
  // Throws RCLError when DDS refuses an endpoint.
  explicit NodeDefaults(NodeCore & node);
  ~NodeDefaults();
  NodeDefaults(const NodeDefaults &) = delete;
  NodeDefaults & operator=(const NodeDefaults &) = delete;

 private:
  TopicPublisher rosout_;
  TopicPublisher parameter_events_;
  ParameterServices parameters_;
  TopicSubscription parameter_events_subscription_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__NODE_DEFAULTS_HPP_
