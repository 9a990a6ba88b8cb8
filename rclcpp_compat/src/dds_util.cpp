// SPDX-License-Identifier: Apache-2.0
#include "dds_util.hpp"

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
  if (profile.durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL) {
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  } else {
    dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  }
  if (profile.history == RMW_QOS_POLICY_HISTORY_KEEP_ALL) {
    dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  } else {
    const size_t depth = profile.depth == 0 ? 1 : profile.depth;
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, depth > INT32_MAX ? INT32_MAX : static_cast<int32_t>(depth));
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
