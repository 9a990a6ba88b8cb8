// SPDX-License-Identifier: Apache-2.0
// The wait set of one node: the DDS waitset its spin waits on and the
// waitables attached to it. Shared by the node and its clients and services,
// so that these may be destroyed in any order.
#ifndef RCLCPP_COMPAT__NODE__NODE_WAIT_SET_HPP_
#define RCLCPP_COMPAT__NODE__NODE_WAIT_SET_HPP_

#include <dds/dds.h>

#include <memory>
#include <mutex>
#include <unordered_set>

#include "endpoints/dds_util.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct NodeCore::WaitSet {
  // Throws RCLError when DDS refuses the waitset.
  explicit WaitSet(dds_entity_t participant);
  // Takes the node off ros_discovery_info: the node lasts as long as any of
  // its clients and services, as an rcl node does.
  ~WaitSet();
  WaitSet(const WaitSet &) = delete;
  WaitSet & operator=(const WaitSet &) = delete;

  void attach(dds_entity_t condition, Waitable * waitable);
  void detach(dds_entity_t condition, Waitable * waitable);
  // False once `waitable` has been detached.
  bool is_live(Waitable * waitable);

  const dds_entity_t participant;
  Entity waitset;
  // The node's entry on ros_discovery_info (0: none yet).
  uint64_t graph_node = 0;

 private:
  // Waitables attached now; a callback may destroy another one mid-round.
  std::mutex mutex_;
  std::unordered_set<Waitable *> live_;
};

// A wait set on `participant` that shutdown wakes; throws RCLError when DDS
// refuses it.
std::shared_ptr<NodeCore::WaitSet> make_wait_set(dds_entity_t participant);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__NODE__NODE_WAIT_SET_HPP_
