// SPDX-License-Identifier: Apache-2.0
// The node and the client in the ROS graph: a peer configured as a ROS 2 node
// reads ros_discovery_info and finds /data_center with the gids of its
// service endpoints and of a default rclcpp node's, and the client's node
// while it runs.
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using e2e::Cli;
using e2e::NodeProcess;
using e2e::TempDir;
using Info = rmw_dds_common::msg::ParticipantEntitiesInfo;
using Gid = std::vector<uint8_t>;

const int kDomain = e2e::TestDomain(0);
constexpr auto kLimit = std::chrono::seconds(20);

Gid to_gid(const rmw_dds_common::msg::Gid & msg) {
  return Gid(msg.data.begin(), msg.data.end());
}

Gid to_gid(const dds_guid_t & guid) {
  Gid gid(24, 0);
  std::memcpy(gid.data(), guid.v, sizeof guid.v);
  return gid;
}

size_t GidCount(const rmw_dds_common::msg::NodeEntitiesInfo & node) {
  return node.reader_gid_seq.size() + node.writer_gid_seq.size();
}

// A raw DDS participant set up as a ROS 2 node with ROS_LOCALHOST_ONLY=1,
// reading what tools read.
class GraphWatcher {
 public:
  GraphWatcher() {
    const char * config =
        "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
        "</Interfaces></General></Domain></CycloneDDS>";
    domain_ = dds_create_domain(kDomain, config);
    participant_ = dds_create_participant(kDomain, nullptr, nullptr);
    const dds_entity_t topic = rclcpp_compat::create_wire_topic(
        participant_, "ros_discovery_info",
        rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Info>(), false);
    dds_qos_t * qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
    info_reader_ = dds_create_reader(participant_, topic, qos, nullptr);
    dds_delete_qos(qos);
    publications_ = dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
    subscriptions_ = dds_create_reader(participant_, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr);
  }
  ~GraphWatcher() { dds_delete(domain_); }
  GraphWatcher(const GraphWatcher &) = delete;
  GraphWatcher & operator=(const GraphWatcher &) = delete;

  bool Ok() const { return domain_ > 0 && participant_ > 0 && info_reader_ > 0 && publications_ > 0; }

  // Takes what has arrived: every entry of every participant, in order.
  void Poll() {
    for (;;) {
      Info msg;
      rclcpp_compat::WireSample sample;
      sample.message = &msg;
      void * ptr = &sample;
      dds_sample_info_t si;
      if (dds_take(info_reader_, &ptr, &si, 1, 1) <= 0) {
        break;
      }
      if (si.valid_data) {
        infos_.push_back(std::move(msg));
      }
    }
    Collect(publications_, "w ");
    Collect(subscriptions_, "r ");
  }

  // The latest node entry named `name` in namespace "/", if any.
  const rmw_dds_common::msg::NodeEntitiesInfo * Latest(const std::string & name) const {
    for (auto it = infos_.rbegin(); it != infos_.rend(); ++it) {
      for (const auto & node : it->node_entities_info_seq) {
        if (node.node_namespace == "/" && node.node_name == name) {
          return &node;
        }
      }
    }
    return nullptr;
  }
  // The fullest node entry whose name starts with `prefix` ever seen: a
  // process announces its node as its endpoints come, so a slow one (under
  // emulation, say) is seen in several steps.
  const rmw_dds_common::msg::NodeEntitiesInfo * Seen(const std::string & prefix) const {
    const rmw_dds_common::msg::NodeEntitiesInfo * fullest = nullptr;
    for (const auto & info : infos_) {
      for (const auto & node : info.node_entities_info_seq) {
        if (node.node_name.compare(0, prefix.size(), prefix) == 0 &&
            (fullest == nullptr || GidCount(node) > GidCount(*fullest))) {
          fullest = &node;
        }
      }
    }
    return fullest;
  }

  // "w rt/rosout", "r rq/...Request": the endpoints behind a node's gids that
  // have been discovered.
  std::multiset<std::string> Endpoints(const rmw_dds_common::msg::NodeEntitiesInfo & node) const {
    std::multiset<std::string> found;
    for (const auto * seq : {&node.reader_gid_seq, &node.writer_gid_seq}) {
      for (const auto & g : *seq) {
        auto it = endpoints_.find(to_gid(g));
        if (it != endpoints_.end()) {
          found.insert(it->second);
        }
      }
    }
    return found;
  }

 private:
  void Collect(dds_entity_t reader, const std::string & role) {
    void * samples[32] = {nullptr};
    dds_sample_info_t infos[32];
    dds_return_t n;
    while ((n = dds_take(reader, samples, infos, 32, 32)) > 0) {
      for (dds_return_t i = 0; i < n; ++i) {
        const auto * ep = static_cast<const dds_builtintopic_endpoint_t *>(samples[i]);
        if (infos[i].valid_data) {
          endpoints_[to_gid(ep->key)] = role + ep->topic_name;
        }
      }
      dds_return_loan(reader, samples, n);
    }
  }

  dds_entity_t domain_ = -1;
  dds_entity_t participant_ = -1;
  dds_entity_t info_reader_ = -1;
  dds_entity_t publications_ = -1;
  dds_entity_t subscriptions_ = -1;
  std::vector<Info> infos_;
  std::map<Gid, std::string> endpoints_;
};

bool PollUntil(GraphWatcher & watcher, const std::function<bool()> & done) {
  const auto end = std::chrono::steady_clock::now() + kLimit;
  for (;;) {
    watcher.Poll();
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST(RosGraph, NodeAndClientAreAnnouncedWithTheirEndpoints) {
  if (e2e::TestingJazzyNode()) {
    GTEST_SKIP()
        << "a Jazzy node's ros_discovery_info has 16-byte gids, which Humble's type (24) does not read";
  }
  TempDir dir;
  NodeProcess node(kDomain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  GraphWatcher watcher;
  ASSERT_TRUE(watcher.Ok());

  // rosout, parameter_events (both ways), six parameter services and the
  // service: 3 + 12 + 2 endpoints, each discovered under its gid.
  ASSERT_TRUE(PollUntil(watcher, [&] {
    const auto * n = watcher.Latest("data_center");
    return n != nullptr && GidCount(*n) == 17 && watcher.Endpoints(*n).size() == 17;
  }));
  const auto endpoints = watcher.Endpoints(*watcher.Latest("data_center"));
  for (const char * expected :
       {"r rq/robot_status_queryRequest", "w rr/robot_status_queryReply", "w rt/rosout",
        "w rt/parameter_events", "r rt/parameter_events", "r rq/data_center/get_parametersRequest",
        "w rr/data_center/set_parameters_atomicallyReply"}) {
    EXPECT_EQ(endpoints.count(expected), 1u) << expected;
  }

  // The client's node is there while it runs (here a second, looking for a
  // service nobody offers).
  ASSERT_EQ(Cli(kDomain, {"--timeout", "1", "call", "1", "--ros-args", "-r", "robot_status_query:=nobody"})
                .exit_status,
            3);
  ASSERT_TRUE(PollUntil(watcher, [&] {
    const auto * c = watcher.Seen("data_center_cli_");
    return c != nullptr && GidCount(*c) == 17;
  }));
  const auto client = watcher.Endpoints(*watcher.Seen("data_center_cli_"));
  EXPECT_EQ(client.count("w rq/nobodyRequest"), 1u);
  EXPECT_EQ(client.count("r rr/nobodyReply"), 1u);
}

}  // namespace
