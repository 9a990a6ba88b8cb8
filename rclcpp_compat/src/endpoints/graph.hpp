// SPDX-License-Identifier: Apache-2.0
// What the process's participant announces on ros_discovery_info: its gid
// and, per node, name, namespace and the gids of the node's readers and
// writers, as rmw_cyclonedds_cpp (Humble) does. Tools attribute DDS
// endpoints to nodes only through it.
#ifndef RCLCPP_COMPAT__ENDPOINTS__GRAPH_HPP_
#define RCLCPP_COMPAT__ENDPOINTS__GRAPH_HPP_

#include <dds/dds.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "endpoints/dds_util.hpp"

namespace rclcpp_compat {

// rmw's gid of a DDS entity: its 16-byte GUID, then zeros up to 24 bytes.
using Gid = std::array<uint8_t, 24>;
Gid gid_of(dds_entity_t entity);
Gid gid_of(const dds_guid_t & guid);

class ParticipantGraph {
 public:
  // Every change republishes the participant's whole entry.
  static ParticipantGraph & instance();

  // Creates the ros_discovery_info writer on first use; throws RCLError.
  uint64_t add_node(dds_entity_t participant, const std::string & name, const std::string & ns);
  void remove_node(uint64_t node);
  // Entities of a node that no longer exists are ignored.
  void add_endpoints(uint64_t node, const std::vector<dds_entity_t> & readers,
                     const std::vector<dds_entity_t> & writers);
  void remove_endpoints(uint64_t node, const std::vector<dds_entity_t> & entities);

 private:
  struct NodeEntry {
    uint64_t id;
    std::string name;
    std::string ns;
    std::vector<Gid> readers;
    std::vector<Gid> writers;
  };
  ParticipantGraph() = default;
  // Called with mutex_ held.
  void publish();

  std::mutex mutex_;
  Gid participant_gid_{};
  Entity topic_;
  Entity writer_;
  uint64_t next_id_ = 1;
  std::vector<NodeEntry> nodes_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__ENDPOINTS__GRAPH_HPP_
