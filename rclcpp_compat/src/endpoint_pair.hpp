// The two DDS topics and the reader/writer pair behind one service or client.
#ifndef RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_
#define RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_

#include <string>

#include "dds_util.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct EndpointPair {
  // A server reads requests and writes replies; a client the other way round.
  // `read_filter`, when given, decides which samples may enter the reader's
  // history at all; it must stay valid as long as the reader.
  EndpointPair(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
               const MessageWire & read_wire, const std::string & read_topic, const MessageWire & write_wire,
               const std::string & write_topic, const std::string & user_data,
               const dds_topic_filter * read_filter = nullptr);

  Entity read_topic;
  Entity write_topic;
  Entity reader;
  Entity writer;
  Entity read_condition;
};

// Takes the reader's samples one at a time and calls `f(sample, info)` for each
// one that carries data (not a dispose or unregister of a departed peer). The
// loan is returned even when `f` throws.
template <class F>
void take_each(dds_entity_t reader, F && f) {
  for (;;) {
    void * samples[1] = {nullptr};
    dds_sample_info_t info;
    if (dds_take(reader, samples, &info, 1, 1) <= 0) {
      return;
    }
    struct LoanGuard {
      dds_entity_t reader;
      void ** samples;
      ~LoanGuard() { dds_return_loan(reader, samples, 1); }
    } guard{reader, samples};
    if (info.valid_data) {
      f(samples[0], info);
    }
  }
}

// "rq/<name>Request" and "rr/<name>Reply" for a fully qualified service name.
std::string request_topic_name(const std::string & service_name);
std::string reply_topic_name(const std::string & service_name);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINT_PAIR_HPP_
