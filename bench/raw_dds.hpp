// SPDX-License-Identifier: Apache-2.0
// Plain Cyclone DDS set-up shared by the echo floor and the client: domain,
// participant and service endpoint QoS made as the project's rclcpp layer
// makes them for the node, so that both ends of every measured round trip use
// the node's discovery, transport and QoS, and its wire types.
#ifndef DATA_CENTER_BENCH_RAW_DDS_HPP_
#define DATA_CENTER_BENCH_RAW_DDS_HPP_

#include <dds/dds.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>

#include <korvane_protocol/srv/data_center_srv.hpp>

#include "rclcpp_compat/security.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace bench {

using Srv = korvane_protocol::srv::DataCenterSrv;

inline dds_entity_t Checked(dds_entity_t entity, const std::string & what) {
  if (entity < 0) {
    throw std::runtime_error(what + ": " + dds_strretcode(entity));
  }
  return entity;
}

// The domain of ROS_DOMAIN_ID (base 0, as rcl reads it), with the layer's
// localhost-only configuration unless ROS_LOCALHOST_ONLY=0, then
// CYCLONEDDS_URI; the participant carries the ROS 2 enclave user data, and
// the DDS Security properties when ROS_SECURITY_ENABLE is true.
inline dds_entity_t CreateParticipant() {
  const char * id = std::getenv("ROS_DOMAIN_ID");
  char * end = nullptr;
  const unsigned long domain = id == nullptr || *id == '\0' ? 0 : std::strtoul(id, &end, 0);
  if (end != nullptr && (*end != '\0' || domain > 232)) {
    throw std::runtime_error(std::string("ROS_DOMAIN_ID is not a domain id: '") + id + "'");
  }
  const char * localhost = std::getenv("ROS_LOCALHOST_ONLY");
  const char * uri = std::getenv("CYCLONEDDS_URI");
  const std::string config =
      std::string(localhost == nullptr || std::strcmp(localhost, "0") != 0
                      ? "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
                        "</Interfaces></General></Domain></CycloneDDS>,"
                      : "") +
      (uri != nullptr ? uri : "");
  const dds_entity_t created = dds_create_domain(static_cast<dds_domainid_t>(domain), config.c_str());
  if (created < 0 && created != DDS_RETCODE_PRECONDITION_NOT_MET) {  // the latter: made already
    Checked(created, "cannot create domain " + std::to_string(domain));
  }
  dds_qos_t * qos = dds_create_qos();
  static const char kEnclave[] = "enclave=/;";
  dds_qset_userdata(qos, kEnclave, sizeof kEnclave - 1);
  // ROS_SECURITY_* as a ROS 2 process reads them; the enclave comes from
  // ROS_SECURITY_ENCLAVE_OVERRIDE.
  const rclcpp_compat::SecurityOptions security = rclcpp_compat::security_from_env("/", std::cerr);
  rclcpp_compat::apply_security(security, qos);
  const dds_entity_t participant = dds_create_participant(static_cast<dds_domainid_t>(domain), qos, nullptr);
  dds_delete_qos(qos);
  Checked(participant, "cannot create a participant on domain " + std::to_string(domain));
  if (security.enabled()) {
    rclcpp_compat::delete_dds_before_openssl_at_exit();
  }
  return participant;
}

// QoS of all four service endpoints (reliable, volatile, keep last 10,
// autodispose off, XCDR1), with `user_data` when not empty.
inline dds_qos_t * ServiceQos(const std::string & user_data) {
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  dds_qset_writer_data_lifecycle(qos, false);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);
  if (!user_data.empty()) {
    dds_qset_userdata(qos, user_data.data(), user_data.size());
  }
  return qos;
}

// A reader of `reader_topic` and a writer of `writer_topic` of a service
// (rq/NAMERequest, rr/NAMEReply), with `user_data` on both.
struct ServiceEndpoints {
  ServiceEndpoints(dds_entity_t participant, const std::string & reader_topic,
                   const std::string & writer_topic, const std::string & user_data) {
    const bool server = reader_topic.rfind("rq/", 0) == 0;
    const dds_entity_t in =
        Checked(server ? rclcpp_compat::create_service_wire_topic<Srv::Request>(participant, reader_topic)
                       : rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, reader_topic),
                "cannot create topic " + reader_topic);
    const dds_entity_t out =
        Checked(server ? rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, writer_topic)
                       : rclcpp_compat::create_service_wire_topic<Srv::Request>(participant, writer_topic),
                "cannot create topic " + writer_topic);
    dds_qos_t * qos = ServiceQos(user_data);
    reader = dds_create_reader(participant, in, qos, nullptr);
    writer = dds_create_writer(participant, out, qos, nullptr);
    dds_delete_qos(qos);
    Checked(reader, "cannot create a reader of " + reader_topic);
    Checked(writer, "cannot create a writer of " + writer_topic);
    waitset = Checked(dds_create_waitset(participant), "cannot create a waitset");
    Checked(dds_waitset_attach(waitset,
                               Checked(dds_create_readcondition(reader, DDS_ANY_STATE), "read condition"), 0),
            "cannot attach the read condition");
  }
  dds_entity_t reader = 0;
  dds_entity_t writer = 0;
  dds_entity_t waitset = 0;  // woken when the reader has data
};

}  // namespace bench

#endif  // DATA_CENTER_BENCH_RAW_DDS_HPP_
