// SPDX-License-Identifier: Apache-2.0
// DDS types of rosidl messages exactly as the layer puts them on the wire,
// for raw Cyclone DDS peers of the layer (benchmark floor, stress clients,
// tests): a topic made here carries the same bytes under the same type name
// as the layer's own endpoints, for any message type, from its C++
// introspection type support.
#ifndef RCLCPP_COMPAT__WIRE_TYPES_HPP_
#define RCLCPP_COMPAT__WIRE_TYPES_HPP_

#include <dds/dds.h>

#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <string>
#include <vector>

#include "rclcpp_compat/core.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"

namespace rclcpp_compat {

// A sample of such a topic, as dds_write takes it and dds_read/dds_take fill it.
struct WireSample {
  // Service topics (rq/, rr/) only; not on the wire otherwise.
  RequestHeader header;
  // The C++ message of the topic's type: written from by dds_write, filled by
  // read/take when set. Samples Cyclone allocates itself (loans, content
  // filters) have none: only their header is filled.
  void * message = nullptr;
};

// A topic of the message type `type_support` (C++ introspection);
// `service_sample` puts the request header in front of the fields. Returns the
// topic or a negative DDS return code.
dds_entity_t create_wire_topic(dds_entity_t participant, const std::string & topic_name,
                               const rosidl_message_type_support_t * type_support, bool service_sample);

template <class MsgT>
dds_entity_t create_service_wire_topic(dds_entity_t participant, const std::string & topic_name) {
  return create_wire_topic(participant, topic_name,
                           rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MsgT>(),
                           true);
}

// The DDS type name ROS 2 gives a message type: "pkg::msg::dds_::Name_".
std::string wire_type_name(const rosidl_message_type_support_t * type_support);

// All children of `entity` (a participant's topics, publishers and
// subscribers; their readers and writers), however many: every node brings a
// dozen endpoints of the ROS graph.
std::vector<dds_entity_t> children_of(dds_entity_t entity);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__WIRE_TYPES_HPP_
