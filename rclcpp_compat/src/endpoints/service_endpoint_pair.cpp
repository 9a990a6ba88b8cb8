// SPDX-License-Identifier: Apache-2.0
#include "endpoints/service_endpoint_pair.hpp"

#include <dds/ddsi/ddsi_serdata.h>

#include "endpoints/graph.hpp"
#include "node/node_wait_set.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp_compat {

std::string request_topic_name(const std::string & service_name) {
  return "rq" + service_name + "Request";
}

std::string reply_topic_name(const std::string & service_name) {
  return "rr" + service_name + "Reply";
}

EndpointPair::EndpointPair(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
                           const rosidl_message_type_support_t * read_type,
                           const std::string & read_topic_name,
                           const rosidl_message_type_support_t * write_type,
                           const std::string & write_topic_name, const std::string & user_data,
                           const dds_topic_filter * read_filter)
    : graph_node(node.wait_set()->graph_node) {
  const dds_entity_t pp = node.participant();
  read_topic.reset(check_entity(create_wire_topic(pp, read_topic_name, read_type, true),
                                "cannot create topic " + read_topic_name));
  write_topic.reset(check_entity(create_wire_topic(pp, write_topic_name, write_type, true),
                                 "cannot create topic " + write_topic_name));
  // The topic entity is this reader's own, so the filter touches no other
  // endpoint; Cyclone wants it in place before the reader exists.
  if (read_filter != nullptr) {
    const dds_return_t rc = dds_set_topic_filter_extended(read_topic.get(), read_filter);
    if (rc != DDS_RETCODE_OK) {
      throw_dds_error("cannot filter topic " + read_topic_name, rc);
    }
  }
  dds_qos_t * endpoint_qos = make_endpoint_qos(qos, user_data);
  const dds_entity_t r = dds_create_reader(pp, read_topic.get(), endpoint_qos, nullptr);
  const dds_entity_t w = dds_create_writer(pp, write_topic.get(), endpoint_qos, nullptr);
  dds_delete_qos(endpoint_qos);
  reader.reset(check_entity(r, "cannot create reader for " + service_name));
  writer.reset(check_entity(w, "cannot create writer for " + service_name));
  read_condition.reset(
      check_entity(dds_create_readcondition(reader.get(), DDS_ANY_STATE), "cannot create read condition"));
  // Writer first, as rmw_cyclonedds_cpp associates them.
  ParticipantGraph::instance().add_endpoints(graph_node, {reader.get()}, {writer.get()});
}

EndpointPair::~EndpointPair() {
  ParticipantGraph::instance().remove_endpoints(graph_node, {reader.get(), writer.get()});
}

}  // namespace rclcpp_compat

namespace rclcpp_compat {

void unref_serdata(struct ddsi_serdata * sample) {
  ddsi_serdata_unref(sample);
}

bool read_wire_sample(const void * sample, RequestHeader * header, void * msg) {
  WireSample s;
  s.message = msg;
  if (!ddsi_serdata_to_sample(static_cast<const struct ddsi_serdata *>(sample), &s, nullptr, nullptr)) {
    return false;
  }
  if (header != nullptr) {
    *header = s.header;
  }
  return true;
}

dds_return_t write_wire_sample(dds_entity_t writer, const RequestHeader & header, const void * msg) {
  WireSample s;
  s.header = header;
  s.message = const_cast<void *>(msg);
  return dds_write(writer, &s);
}

}  // namespace rclcpp_compat
