// SPDX-License-Identifier: Apache-2.0
#include "endpoints/graph.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <rmw_dds_common/msg/participant_entities_info.hpp>

#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp_compat {

Gid gid_of(const dds_guid_t & guid) {
  static_assert(sizeof guid.v <= std::tuple_size<Gid>::value, "a GUID must fit a gid");
  Gid gid{};
  std::memcpy(gid.data(), guid.v, sizeof guid.v);
  return gid;
}

Gid gid_of(dds_entity_t entity) {
  dds_guid_t guid;
  if (dds_get_guid(entity, &guid) < 0) {
    std::memset(&guid, 0, sizeof guid);
  }
  return gid_of(guid);
}

ParticipantGraph & ParticipantGraph::instance() {
  static auto * graph = new ParticipantGraph();  // the participant lives until exit, and so does this
  return *graph;
}

uint64_t ParticipantGraph::add_node(dds_entity_t participant, const std::string & name,
                                    const std::string & ns) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writer_.get() <= 0) {
    using Info = rmw_dds_common::msg::ParticipantEntitiesInfo;
    // rmw_cyclonedds_cpp's topic: no ROS prefix; reliable, transient local,
    // keep last 1, so a late joiner gets the current entry only.
    topic_.reset(check_entity(
        create_wire_topic(participant, "ros_discovery_info",
                          rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Info>(),
                          false),
        "cannot create topic ros_discovery_info"));
    rmw_qos_profile_t profile{};
    profile.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
    profile.depth = 1;
    profile.reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
    profile.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
    dds_qos_t * qos = make_endpoint_qos(profile, "");
    const dds_entity_t w = dds_create_writer(participant, topic_.get(), qos, nullptr);
    dds_delete_qos(qos);
    writer_.reset(check_entity(w, "cannot create writer for ros_discovery_info"));
    participant_gid_ = gid_of(participant);
  }
  const uint64_t id = next_id_++;
  nodes_.push_back({id, name, ns, {}, {}});
  publish();
  return id;
}

void ParticipantGraph::remove_node(uint64_t node) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [node](const NodeEntry & e) { return e.id == node; });
  if (it != nodes_.end()) {
    nodes_.erase(it);
    publish();
  }
}

void ParticipantGraph::add_endpoints(uint64_t node, const std::vector<dds_entity_t> & readers,
                                     const std::vector<dds_entity_t> & writers) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [node](const NodeEntry & e) { return e.id == node; });
  if (it == nodes_.end()) {
    return;
  }
  for (const dds_entity_t r : readers) {
    it->readers.push_back(gid_of(r));
  }
  for (const dds_entity_t w : writers) {
    it->writers.push_back(gid_of(w));
  }
  publish();
}

void ParticipantGraph::remove_endpoints(uint64_t node, const std::vector<dds_entity_t> & entities) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(nodes_.begin(), nodes_.end(), [node](const NodeEntry & e) { return e.id == node; });
  if (it == nodes_.end()) {
    return;
  }
  for (const dds_entity_t entity : entities) {
    const Gid gid = gid_of(entity);
    for (auto * list : {&it->readers, &it->writers}) {
      list->erase(std::remove(list->begin(), list->end(), gid), list->end());
    }
  }
  publish();
}

void ParticipantGraph::publish() {
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  std::memcpy(info.gid.data.data(), participant_gid_.data(), participant_gid_.size());
  for (const auto & node : nodes_) {
    rmw_dds_common::msg::NodeEntitiesInfo entry;
    entry.node_namespace = node.ns;
    entry.node_name = node.name;
    for (const Gid & gid : node.readers) {
      entry.reader_gid_seq.emplace_back();
      std::memcpy(entry.reader_gid_seq.back().data.data(), gid.data(), gid.size());
    }
    for (const Gid & gid : node.writers) {
      entry.writer_gid_seq.emplace_back();
      std::memcpy(entry.writer_gid_seq.back().data.data(), gid.data(), gid.size());
    }
    info.node_entities_info_seq.push_back(std::move(entry));
  }
  WireSample sample;
  sample.message = &info;
  const dds_return_t rc = dds_write(writer_.get(), &sample);
  if (rc < 0) {
    std::cerr << "[WARN] failed to publish ros_discovery_info: " << dds_strretcode(rc) << std::endl;
  }
}

}  // namespace rclcpp_compat
