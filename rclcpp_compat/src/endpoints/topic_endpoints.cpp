// SPDX-License-Identifier: Apache-2.0
#include "endpoints/topic_endpoints.hpp"

#include <iostream>

#include "endpoints/graph.hpp"
#include "endpoints/service_endpoint_pair.hpp"
#include "node/node_wait_set.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp_compat {

std::string topic_dds_name(const std::string & topic_name) {
  return "rt" + topic_name;
}

TopicPublisher::TopicPublisher(NodeCore & node, const std::string & topic_name,
                               const rosidl_message_type_support_t * type, const rmw_qos_profile_t & qos)
    : wait_set_(node.wait_set()) {
  const dds_entity_t pp = node.participant();
  topic_.reset(check_entity(create_wire_topic(pp, topic_dds_name(topic_name), type, false),
                            "cannot create topic " + topic_name));
  dds_qos_t * endpoint_qos = make_endpoint_qos(qos, "");
  const dds_entity_t w = dds_create_writer(pp, topic_.get(), endpoint_qos, nullptr);
  dds_delete_qos(endpoint_qos);
  writer_.reset(check_entity(w, "cannot create writer for " + topic_name));
  ParticipantGraph::instance().add_endpoints(wait_set_->graph_node, {}, {writer_.get()});
}

TopicPublisher::~TopicPublisher() {
  ParticipantGraph::instance().remove_endpoints(wait_set_->graph_node, {writer_.get()});
}

bool TopicPublisher::publish(const void * msg) {
  WireSample sample;
  sample.message = const_cast<void *>(msg);
  const dds_return_t rc = dds_write(writer_.get(), &sample);
  if (rc < 0) {
    std::cerr << "[WARN] failed to publish: " << dds_strretcode(rc) << std::endl;
    return false;
  }
  return true;
}

TopicSubscription::TopicSubscription(NodeCore & node, const std::string & topic_name,
                                     const rosidl_message_type_support_t * type,
                                     const rmw_qos_profile_t & qos, Callback callback)
    : wait_set_(node.wait_set()), callback_(std::move(callback)) {
  const dds_entity_t pp = node.participant();
  topic_.reset(check_entity(create_wire_topic(pp, topic_dds_name(topic_name), type, false),
                            "cannot create topic " + topic_name));
  dds_qos_t * endpoint_qos = make_endpoint_qos(qos, "");
  const dds_entity_t r = dds_create_reader(pp, topic_.get(), endpoint_qos, nullptr);
  dds_delete_qos(endpoint_qos);
  reader_.reset(check_entity(r, "cannot create reader for " + topic_name));
  read_condition_.reset(
      check_entity(dds_create_readcondition(reader_.get(), DDS_ANY_STATE), "cannot create read condition"));
  wait_set_->attach(read_condition_.get(), this);
  ParticipantGraph::instance().add_endpoints(wait_set_->graph_node, {reader_.get()}, {});
}

TopicSubscription::~TopicSubscription() {
  wait_set_->detach(read_condition_.get(), this);
  ParticipantGraph::instance().remove_endpoints(wait_set_->graph_node, {reader_.get()});
}

void TopicSubscription::execute() {
  take_each(reader_.get(), [this](const void * sample, const dds_sample_info_t &) { callback_(sample); });
}

bool TopicSubscription::read(const void * sample, void * msg) {
  return read_wire_sample(sample, nullptr, msg);
}

}  // namespace rclcpp_compat
