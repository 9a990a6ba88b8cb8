// SPDX-License-Identifier: Apache-2.0
// The DDS participant and service endpoint QoS of a ROS 2 process, as
// rmw_cyclonedds_cpp Humble makes them. The context creates its participant
// with it; raw-DDS peers (the benchmark's) use it to meet the node exactly as
// the layer does.
#ifndef RCLCPP_COMPAT__PARTICIPANT_HPP_
#define RCLCPP_COMPAT__PARTICIPANT_HPP_

#include <dds/dds.h>

#include <cstdint>
#include <string>

#include "rclcpp_compat/security.hpp"

namespace rclcpp_compat {

// The domain created with the loopback configuration when `localhost_only`
// (then CYCLONEDDS_URI), and a participant with `enclave=<enclave>;` in its
// USER_DATA and the properties of `security`. Throws RCLError when DDS
// refuses.
dds_entity_t create_ros_participant(uint32_t domain, bool localhost_only, const std::string & enclave,
                                    const SecurityOptions & security);

// The same with everything from the environment: ROS_DOMAIN_ID,
// ROS_LOCALHOST_ONLY, CYCLONEDDS_URI and ROS_SECURITY_* (the enclave's folder
// from ROS_SECURITY_ENCLAVE_OVERRIDE); the enclave is "/".
dds_entity_t create_ros_participant_from_env();

// QoS of every service endpoint (rmw_qos_profile_services_default), with
// `user_data` when not empty; the caller deletes it.
dds_qos_t * service_endpoint_qos(const std::string & user_data);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__PARTICIPANT_HPP_
