// SPDX-License-Identifier: Apache-2.0
#include "rclcpp_compat/participant.hpp"

#include <iostream>

#include "context/environment.hpp"
#include "endpoints/dds_util.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp_compat {

dds_entity_t create_ros_participant(uint32_t domain, bool localhost_only, const std::string & enclave,
                                    const SecurityOptions & security) {
  // Always an explicit domain, as rmw_cyclonedds_cpp creates it; the latter
  // code means this process created that domain already.
  const dds_entity_t d = dds_create_domain(domain, domain_config(localhost_only).c_str());
  if (d < 0 && d != DDS_RETCODE_PRECONDITION_NOT_MET) {
    throw_dds_error("cannot create DDS domain " + std::to_string(domain), d);
  }
  dds_qos_t * qos = dds_create_qos();
  const std::string user_data = "enclave=" + enclave + ";";
  dds_qset_userdata(qos, user_data.data(), user_data.size());
  apply_security(security, qos);
  const dds_entity_t p = dds_create_participant(domain, qos, nullptr);
  dds_delete_qos(qos);
  // Cyclone's security plugins refuse, for example, an expired certificate.
  const dds_entity_t participant = check_entity(
      p, "cannot create DDS participant on domain " + std::to_string(domain) +
             (security.enabled() ? " with the security files of '" + security.enclave_dir + "'" : ""));
  if (security.enabled()) {
    delete_dds_before_openssl_at_exit();
  }
  return participant;
}

dds_entity_t create_ros_participant_from_env() {
  return create_ros_participant(domain_id_from_env(), localhost_only_from_env(), "/",
                                security_from_env("/", std::cerr));
}

dds_qos_t * service_endpoint_qos(const std::string & user_data) {
  return make_endpoint_qos(rmw_qos_profile_services_default, user_data);
}

}  // namespace rclcpp_compat
