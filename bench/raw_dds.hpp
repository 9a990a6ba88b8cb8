// SPDX-License-Identifier: Apache-2.0
// Plain Cyclone DDS set-up shared by the benchmark's echo floor and client:
// domain, participant and service endpoint QoS made exactly as the project's
// rclcpp layer makes them for the node, so that both ends of every measured
// round trip use the node's discovery, transport and QoS.
#ifndef DATA_CENTER_BENCH_RAW_DDS_HPP_
#define DATA_CENTER_BENCH_RAW_DDS_HPP_

#include <dds/dds.h>

#include <string>

namespace bench {

// The domain of ROS_DOMAIN_ID, read as ROS 2 reads it (0 when unset); false
// with the reason in `error` when it is not a number.
bool DomainFromEnv(dds_domainid_t & domain, std::string & error);

// Creates the domain with the node's configuration (loopback only unless
// ROS_LOCALHOST_ONLY=0, then CYCLONEDDS_URI) and a participant carrying the
// ROS 2 enclave user data. Returns the participant or a negative DDS code.
dds_entity_t CreateParticipant(dds_domainid_t domain);

// QoS of all four service endpoints (reliable, volatile, keep last 10,
// autodispose off, XCDR1), with `user_data` when not empty. Free it with
// dds_delete_qos.
dds_qos_t * ServiceEndpointQos(const std::string & user_data);

// Calls `handler` on SIGINT and SIGTERM, so a run can stop cleanly.
void StopOnSignals(void (*handler)(int));

}  // namespace bench

#endif  // DATA_CENTER_BENCH_RAW_DDS_HPP_
