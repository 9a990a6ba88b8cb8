// SPDX-License-Identifier: Apache-2.0
// Plain Cyclone DDS set-up shared by the echo floor and the client: domain,
// participant and service endpoint QoS made as the project's rclcpp layer
// makes them for the node, so that both ends of every measured round trip use
// the node's discovery, transport and QoS, and its wire types.
#ifndef DATA_CENTER_BENCH__RAW_DDS_HPP_
#define DATA_CENTER_BENCH__RAW_DDS_HPP_

#include <dds/dds.h>

#include <stdexcept>
#include <string>

#include <korvane_protocol/srv/data_center_srv.hpp>

#include "rclcpp_compat/participant.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace bench {

using Srv = korvane_protocol::srv::DataCenterSrv;

inline dds_entity_t Checked(dds_entity_t entity, const std::string & what) {
  if (entity < 0) {
    throw std::runtime_error(what + ": " + dds_strretcode(entity));
  }
  return entity;
}

// The participant as the layer makes the node's, from the same environment
// (ROS_DOMAIN_ID, ROS_LOCALHOST_ONLY, CYCLONEDDS_URI, ROS_SECURITY_*, with the
// enclave from ROS_SECURITY_ENCLAVE_OVERRIDE).
inline dds_entity_t CreateParticipant() {
  return rclcpp_compat::create_ros_participant_from_env();
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
    dds_qos_t * qos = rclcpp_compat::service_endpoint_qos(user_data);
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

#endif  // DATA_CENTER_BENCH__RAW_DDS_HPP_
