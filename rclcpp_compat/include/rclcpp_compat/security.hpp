// SPDX-License-Identifier: Apache-2.0
// ROS 2 security (SROS2) as rcl and rmw_cyclonedds_cpp Humble apply it: the
// ROS_SECURITY_* variables and the enclave pick a folder of the keystore,
// whose files become the participant's DDS Security properties. Public so
// that raw-DDS peers (the benchmark's) are secured the same way.
#ifndef RCLCPP_COMPAT__SECURITY_HPP_
#define RCLCPP_COMPAT__SECURITY_HPP_

#include <dds/dds.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace rclcpp_compat {

struct SecurityOptions {
  // The enclave's folder; empty when the participant runs without security.
  std::string enclave_dir;
  // Participant properties, name and value, in the order they are set.
  std::vector<std::pair<std::string, std::string>> properties;

  bool enabled() const { return !enclave_dir.empty(); }
  bool operator==(const SecurityOptions & other) const {
    return enclave_dir == other.enclave_dir && properties == other.properties;
  }
};

// `enclave` is the --enclave value, "/" when none was given. Security is on
// when ROS_SECURITY_ENABLE is exactly "true". Then, when the enclave's folder
// or one of its files cannot be used, the Enforce strategy throws RCLError
// with rcl's wording and any other strategy writes a warning to `warnings`
// and leaves security off.
SecurityOptions security_from_env(const std::string & enclave, std::ostream & warnings);

// Sets the properties on a participant's QoS.
void apply_security(const SecurityOptions & options, dds_qos_t * qos);

// Call once a secured participant exists. The security plugins' threads
// (authentication handshakes with peers) use OpenSSL, which tears its state
// down in an exit handler of its own; one still running then crashes the
// exiting process. OpenSSL has set up that handler while the participant was
// created, so one registered now runs before it: it deletes Cyclone, which
// stops those threads first.
void delete_dds_before_openssl_at_exit();

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__SECURITY_HPP_
