// SPDX-License-Identifier: Apache-2.0
#include "raw_dds.hpp"

#include <signal.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace bench {
namespace {

// The layer's localhost-only fragment (rclcpp_compat/src/context.cpp), which
// is what rmw_cyclonedds_cpp hands Cyclone: the interface and nothing else.
const char * const kLocalhostConfig =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>,";

}  // namespace

bool DomainFromEnv(dds_domainid_t & domain, std::string & error) {
  domain = 0;
  const char * text = std::getenv("ROS_DOMAIN_ID");
  if (text == nullptr || *text == '\0') {
    return true;
  }
  // Base 0 as rcl reads it: "0x10" and "010" mean what they mean to the node.
  char * end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (errno != 0 || *end != '\0' || text[0] == '-' || value >= UINT32_MAX) {
    error = std::string("ROS_DOMAIN_ID is not a valid domain id: '") + text + "'";
    return false;
  }
  domain = static_cast<dds_domainid_t>(value);
  return true;
}

dds_entity_t CreateParticipant(dds_domainid_t domain) {
  const char * localhost = std::getenv("ROS_LOCALHOST_ONLY");
  const char * uri = std::getenv("CYCLONEDDS_URI");
  const std::string config =
      std::string(localhost == nullptr || std::strcmp(localhost, "0") != 0 ? kLocalhostConfig : "") +
      (uri != nullptr ? uri : "");
  const dds_entity_t created = dds_create_domain(domain, config.c_str());
  // The latter code: this process has created that domain already.
  if (created < 0 && created != DDS_RETCODE_PRECONDITION_NOT_MET) {
    return created;
  }
  dds_qos_t * qos = dds_create_qos();
  static const char kEnclave[] = "enclave=/;";
  dds_qset_userdata(qos, kEnclave, sizeof kEnclave - 1);
  const dds_entity_t participant = dds_create_participant(domain, qos, nullptr);
  dds_delete_qos(qos);
  return participant;
}

dds_qos_t * ServiceEndpointQos(const std::string & user_data) {
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

void StopOnSignals(void (*handler)(int)) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace bench
