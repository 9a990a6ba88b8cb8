// SPDX-License-Identifier: Apache-2.0
// The two DDS topics and the reader/writer pair behind one service or client.
#ifndef RCLCPP_COMPAT__ENDPOINTS__SERVICE_ENDPOINT_PAIR_HPP_
#define RCLCPP_COMPAT__ENDPOINTS__SERVICE_ENDPOINT_PAIR_HPP_

#include <string>

#include "endpoints/dds_util.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct EndpointPair {
  // A server reads requests and writes replies; a client the other way round.
  // `read_filter`, when given, decides which samples may enter the reader's
  // history at all; it must stay valid as long as the reader.
  EndpointPair(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
               const rosidl_message_type_support_t * read_type, const std::string & read_topic,
               const rosidl_message_type_support_t * write_type, const std::string & write_topic,
               const std::string & user_data, const dds_topic_filter * read_filter = nullptr);
  // Takes both endpoints off the node's ros_discovery_info entry.
  ~EndpointPair();
  EndpointPair(const EndpointPair &) = delete;
  EndpointPair & operator=(const EndpointPair &) = delete;

  uint64_t graph_node = 0;

  Entity read_topic;
  Entity write_topic;
  Entity reader;
  Entity writer;
  Entity read_condition;
};

// Drops a reference to a sample that dds_takecdr handed out.
void unref_serdata(struct ddsi_serdata * sample);

// Takes the reader's samples one at a time, still serialised, and calls
// `f(sample, info)` for each one that carries data (not a dispose or
// unregister of a departed peer); `sample` is the ddsi_serdata, which
// read_wire_sample turns into a message. The reference is dropped even when
// `f` throws.
template <class F>
void take_each(dds_entity_t reader, F && f) {
  for (;;) {
    struct ddsi_serdata * sample = nullptr;
    dds_sample_info_t info;
    if (dds_takecdr(reader, &sample, 1, &info, 0) <= 0) {
      return;
    }
    struct Unref {
      struct ddsi_serdata * sample;
      ~Unref() { unref_serdata(sample); }
    } guard{sample};
    if (info.valid_data) {
      f(static_cast<const void *>(sample), info);
    }
  }
}

// The header of a sample of take_each, and its message when `msg` is given
// (of the topic's type); false when it cannot be read.
bool read_wire_sample(const void * sample, RequestHeader * header, void * msg);
// Writes `msg` (of the writer's type) behind `header`.
dds_return_t write_wire_sample(dds_entity_t writer, const RequestHeader & header, const void * msg);

// "rq/<name>Request" and "rr/<name>Reply" for a fully qualified service name.
std::string request_topic_name(const std::string & service_name);
std::string reply_topic_name(const std::string & service_name);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINTS__SERVICE_ENDPOINT_PAIR_HPP_
