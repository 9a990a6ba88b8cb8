// SPDX-License-Identifier: Apache-2.0
// Small helpers over the Cyclone DDS C API.
#ifndef RCLCPP_COMPAT__ENDPOINTS__DDS_UTIL_HPP_
#define RCLCPP_COMPAT__ENDPOINTS__DDS_UTIL_HPP_

#include <dds/dds.h>

#include <string>

#include "rmw/types.h"

namespace rclcpp_compat {

[[noreturn]] void throw_dds_error(const std::string & what, dds_return_t rc);
// Returns `handle` or throws when it is an error code.
dds_entity_t check_entity(dds_entity_t handle, const std::string & what);

// Endpoint QoS as rmw_cyclonedds sets it for a ROS profile.
dds_qos_t * make_endpoint_qos(const rmw_qos_profile_t & profile, const std::string & user_data);

// The value of `key` in USER_DATA of the form "k1=v1;k2=v2;", or "".
std::string user_data_value(const dds_qos_t * qos, const std::string & key);

// Deletes a DDS entity when it goes out of scope.
class Entity {
 public:
  Entity() = default;
  explicit Entity(dds_entity_t handle) : handle_(handle) {}
  ~Entity() { reset(); }
  Entity(const Entity &) = delete;
  Entity & operator=(const Entity &) = delete;
  void reset(dds_entity_t handle = 0) {
    if (handle_ > 0) {
      dds_delete(handle_);
    }
    handle_ = handle;
  }
  dds_entity_t get() const { return handle_; }

 private:
  dds_entity_t handle_ = 0;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINTS__DDS_UTIL_HPP_
