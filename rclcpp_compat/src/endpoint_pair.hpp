// The two DDS topics and the reader/writer pair behind one service or client.
#ifndef RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_
#define RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_

#include <string>

#include "dds_util.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct EndpointPair {
  // A server reads requests and writes replies; a client the other way round.
  EndpointPair(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
               const MessageWire & read_wire, const std::string & read_topic, const MessageWire & write_wire,
               const std::string & write_topic, const std::string & user_data);

  Entity read_topic;
  Entity write_topic;
  Entity reader;
  Entity writer;
  Entity read_condition;
};

// "rq/<name>Request" and "rr/<name>Reply" for a fully qualified service name.
std::string request_topic_name(const std::string & service_name);
std::string reply_topic_name(const std::string & service_name);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_
