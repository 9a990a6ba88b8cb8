// SPDX-License-Identifier: Apache-2.0
#include "endpoints/dds_util.hpp"

#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {

void throw_dds_error(const std::string & what, dds_return_t rc) {
  throw rclcpp::exceptions::RCLError(what + ": " + dds_strretcode(rc));
}

dds_entity_t check_entity(dds_entity_t handle, const std::string & what) {
  if (handle < 0) {
    throw_dds_error(what, handle);
  }
  return handle;
}

dds_qos_t * make_endpoint_qos(const rmw_qos_profile_t & profile, const std::string & user_data) {
  dds_qos_t * qos = dds_create_qos();
  if (profile.reliability == RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT) {
    dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
  } else {
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  }
  dds_history_kind_t history_kind = DDS_HISTORY_KEEP_ALL;
  int32_t history_depth = DDS_LENGTH_UNLIMITED;
  if (profile.history != RMW_QOS_POLICY_HISTORY_KEEP_ALL) {
    const size_t depth = profile.depth == 0 ? 1 : profile.depth;
    history_kind = DDS_HISTORY_KEEP_LAST;
    history_depth = depth > INT32_MAX ? INT32_MAX : static_cast<int32_t>(depth);
  }
  dds_qset_history(qos, history_kind, history_depth);
  if (profile.durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL) {
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    // Cyclone keeps for late joiners what the durability service history
    // says (default: the last sample); rmw_cyclonedds_cpp makes it the
    // endpoint's history.
    dds_qset_durability_service(qos, 0, history_kind, history_depth, DDS_LENGTH_UNLIMITED,
                                DDS_LENGTH_UNLIMITED, DDS_LENGTH_UNLIMITED);
  } else {
    dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  }
  // Public endpoints refuse a lifespan (api_checks); the layer's /rosout has one.
  const bool lifespan_infinite = profile.lifespan.sec >= 9223372036ULL;
  if ((profile.lifespan.sec != 0 || profile.lifespan.nsec != 0) && !lifespan_infinite) {
    dds_qset_lifespan(qos, static_cast<dds_duration_t>(profile.lifespan.sec) * DDS_NSECS_IN_SEC +
                               static_cast<dds_duration_t>(profile.lifespan.nsec));
  }
  dds_qset_writer_data_lifecycle(qos, false);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);
  if (!user_data.empty()) {
    dds_qset_userdata(qos, user_data.data(), user_data.size());
  }
  return qos;
}

std::string user_data_value(const dds_qos_t * qos, const std::string & key) {
  void * data = nullptr;
  size_t size = 0;
  if (qos == nullptr || !dds_qget_userdata(qos, &data, &size) || data == nullptr) {
    return "";
  }
  const std::string text(static_cast<const char *>(data), size);
  dds_free(data);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string item = text.substr(pos, end - pos);
    const auto eq = item.find('=');
    if (eq != std::string::npos && item.compare(0, eq, key) == 0 && eq == key.size()) {
      return item.substr(eq + 1);
    }
    pos = end + 1;
  }
  return "";
}

}  // namespace rclcpp_compat
