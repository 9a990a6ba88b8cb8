// SPDX-License-Identifier: Apache-2.0
// The services' quality of service in the form the rclcpp at hand takes.
// rclcpp 28 (Jazzy) deprecates create_service/create_client with an
// rmw_qos_profile_t and takes an rclcpp::QoS, which rclcpp 16 (Humble)
// lacks there. Both forms are the same profile: reliable, volatile, keep
// last 10.
#ifndef DATA_CENTER__SERVICE_QOS_HPP_
#define DATA_CENTER__SERVICE_QOS_HPP_

#include <rclcpp/version.h>
#include <rclcpp/rclcpp.hpp>

namespace data_center {

#if RCLCPP_VERSION_GTE(28, 0, 0)
inline rclcpp::QoS ServiceQos() {
  return rclcpp::ServicesQoS();
}
#else
inline const rmw_qos_profile_t & ServiceQos() {
  return rmw_qos_profile_services_default;
}
#endif

}  // namespace data_center

#endif  // DATA_CENTER__SERVICE_QOS_HPP_
