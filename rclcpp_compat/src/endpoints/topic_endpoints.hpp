// SPDX-License-Identifier: Apache-2.0
// Topic publishers and subscriptions inside the layer (rclcpp's API for them
// is not offered): "rt/<name>" topics of any rosidl message type, each
// endpoint with its own QoS, and announced as the node's on
// ros_discovery_info.
#ifndef RCLCPP_COMPAT__ENDPOINTS__TOPIC_ENDPOINTS_HPP_
#define RCLCPP_COMPAT__ENDPOINTS__TOPIC_ENDPOINTS_HPP_

#include <functional>
#include <memory>
#include <string>

#include "endpoints/dds_util.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

// "rt/<name>" for a fully qualified topic name.
std::string topic_dds_name(const std::string & topic_name);

class TopicPublisher {
 public:
  // `topic_name` is fully qualified; throws RCLError when DDS refuses.
  TopicPublisher(NodeCore & node, const std::string & topic_name, const rosidl_message_type_support_t * type,
                 const rmw_qos_profile_t & qos);
  ~TopicPublisher();
  TopicPublisher(const TopicPublisher &) = delete;
  TopicPublisher & operator=(const TopicPublisher &) = delete;

  // `msg` is of the publisher's type; false (and a warning) when it cannot be sent.
  bool publish(const void * msg);
  dds_entity_t writer() const { return writer_.get(); }

 private:
  std::shared_ptr<NodeCore::WaitSet> wait_set_;
  Entity topic_;
  Entity writer_;
};

class TopicSubscription : public Waitable {
 public:
  // `callback` gets each sample as a ddsi_serdata, to be read with read(),
  // on the thread that spins the node.
  using Callback = std::function<void(const void * sample)>;
  TopicSubscription(NodeCore & node, const std::string & topic_name,
                    const rosidl_message_type_support_t * type, const rmw_qos_profile_t & qos,
                    Callback callback);
  ~TopicSubscription() override;
  TopicSubscription(const TopicSubscription &) = delete;
  TopicSubscription & operator=(const TopicSubscription &) = delete;

  void execute() override;
  // Deserialises a sample handed to the callback into `msg` (of the type).
  static bool read(const void * sample, void * msg);
  dds_entity_t reader() const { return reader_.get(); }

 private:
  std::shared_ptr<NodeCore::WaitSet> wait_set_;
  Callback callback_;
  Entity topic_;
  Entity reader_;
  Entity read_condition_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINTS__TOPIC_ENDPOINTS_HPP_
