// SPDX-License-Identifier: Apache-2.0
// The services' quality of service in the form the rclcpp at hand takes.
// rclcpp 28 (Jazzy) deprecates create_service/create_client with an
// rmw_qos_profile_t and takes an rclcpp::QoS, which rclcpp 16 (Humble)
// lacks there. Both forms are the same profile: reliable, volatile, keep
// last 10.
//
// The typed client's profile is the same but for the history depth
// (kClientReplyDepth, protocol.hpp): the middleware hands every client the
// replies to all clients of the service and drops the others' only when the
// client takes them, so ten other callers answered while this one waits for
// the CPU push its own reply out of a keep-last-10 history. Keep-last still
// bounds an idle client's memory: at most `reply_depth` replies are held.
#ifndef DATA_CENTER__SERVICE_QOS_HPP_
#define DATA_CENTER__SERVICE_QOS_HPP_

#include <rclcpp/version.h>

#include <cstddef>

#include <rclcpp/rclcpp.hpp>

namespace data_center {

#if RCLCPP_VERSION_GTE(28, 0, 0)
inline rclcpp::QoS ServiceQos() {
  return rclcpp::ServicesQoS();
}

inline rclcpp::QoS ClientQos(std::size_t reply_depth) {
  return rclcpp::ServicesQoS().keep_last(reply_depth);
}
#else
inline const rmw_qos_profile_t & ServiceQos() {
  return rmw_qos_profile_services_default;
}

inline rmw_qos_profile_t ClientQos(std::size_t reply_depth) {
  rmw_qos_profile_t qos = rmw_qos_profile_services_default;
  qos.depth = reply_depth;
  return qos;
}
#endif

}  // namespace data_center

#endif  // DATA_CENTER__SERVICE_QOS_HPP_
