// SPDX-License-Identifier: Apache-2.0
// The ROS graph as tools see it: ros_discovery_info read by a raw DDS peer
// names each node of the layer's participant with the gids of its readers and
// writers, and those gids are the GUIDs of the endpoints that peer discovers
// on the wire (topic, type and QoS as a default rclcpp Humble node has them).
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <map>
#include <memory>
#include <rclcpp/rclcpp.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "compat_test_support.hpp"
#include "endpoints/graph.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using Info = rmw_dds_common::msg::ParticipantEntitiesInfo;
using NodeInfo = rmw_dds_common::msg::NodeEntitiesInfo;
using rclcpp_compat::Gid;

// An endpoint as a remote peer discovers it.
struct Discovered {
  std::string topic;
  std::string type;
  bool writer = false;
  Gid participant{};
  std::shared_ptr<dds_qos_t> qos;
};

Gid to_gid(const rmw_dds_common::msg::Gid & msg) {
  Gid gid{};
  std::memcpy(gid.data(), msg.data.data(), gid.size());
  return gid;
}

// "w rt/rosout" / "r rq/xRequest": an endpoint of a node by role and topic.
using Role = std::pair<char, std::string>;

// A peer of the layer on its own participant: reads ros_discovery_info and the
// DDS built-in topics.
class GraphPeer {
 public:
  GraphPeer() : participant_(compat_test::make_participant()) {
    topic_ = compat_test::Handle(rclcpp_compat::create_wire_topic(
        participant_.get(), "ros_discovery_info",
        rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Info>(), false));
    dds_qos_t * qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
    info_reader_ = compat_test::Handle(dds_create_reader(participant_.get(), topic_.get(), qos, nullptr));
    dds_delete_qos(qos);
    publications_ = compat_test::Handle(
        dds_create_reader(participant_.get(), DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr));
    subscriptions_ = compat_test::Handle(
        dds_create_reader(participant_.get(), DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr, nullptr));
    layer_ = rclcpp_compat::gid_of(compat_test::find_layer_participant(participant_.get()));
  }

  // Waits until the layer's latest entry satisfies `done`; returns it.
  Info wait_for_info(const std::function<bool(const Info &)> & done) {
    compat_test::wait_until([&] {
      take_infos();
      return seen_info_ && done(latest_);
    });
    return latest_;
  }

  // The node entry `ns`/`name` of the latest entry, if there is one.
  static const NodeInfo * node(const Info & info, const std::string & ns, const std::string & name) {
    for (const auto & n : info.node_entities_info_seq) {
      if (n.node_namespace == ns && n.node_name == name) {
        return &n;
      }
    }
    return nullptr;
  }

  // The endpoints behind a node entry's gids, once all of them have been
  // discovered; empty when some never are.
  std::map<Gid, Discovered> resolve(const NodeInfo & node) {
    std::map<Gid, Discovered> found;
    compat_test::wait_until([&] {
      collect(publications_.get(), true);
      collect(subscriptions_.get(), false);
      found.clear();
      for (const auto * seq : {&node.reader_gid_seq, &node.writer_gid_seq}) {
        for (const auto & g : *seq) {
          auto it = discovered_.find(to_gid(g));
          if (it == discovered_.end()) {
            return false;
          }
          found.emplace(it->first, it->second);
        }
      }
      return true;
    });
    return found;
  }

  // Role and topic of each of the node's endpoints, checking on the way that
  // each belongs to the layer's participant and has the role the entry says.
  std::multiset<Role> roles(const NodeInfo & node) {
    const auto found = resolve(node);
    std::multiset<Role> roles;
    for (const auto * seq : {&node.reader_gid_seq, &node.writer_gid_seq}) {
      const bool writers = seq == &node.writer_gid_seq;
      for (const auto & g : *seq) {
        auto it = found.find(to_gid(g));
        if (it == found.end()) {
          ADD_FAILURE() << "a gid of node " << node.node_name << " is no endpoint on the wire";
          continue;
        }
        EXPECT_EQ(it->second.participant, layer_) << it->second.topic;
        EXPECT_EQ(it->second.writer, writers) << it->second.topic;
        roles.emplace(writers ? 'w' : 'r', it->second.topic);
      }
    }
    return roles;
  }

  // The discovered writer (or reader) of the layer on `topic`.
  const Discovered * endpoint(const std::string & topic, bool writer) {
    const Discovered * result = nullptr;
    compat_test::wait_until([&] {
      collect(publications_.get(), true);
      collect(subscriptions_.get(), false);
      for (const auto & entry : discovered_) {
        if (entry.second.topic == topic && entry.second.writer == writer &&
            entry.second.participant == layer_) {
          result = &entry.second;
          return true;
        }
      }
      return false;
    });
    return result;
  }

  const Gid & layer() const { return layer_; }

 private:
  void take_infos() {
    for (;;) {
      Info msg;
      rclcpp_compat::WireSample sample;
      sample.message = &msg;
      void * ptr = &sample;
      dds_sample_info_t si;
      if (dds_take(info_reader_.get(), &ptr, &si, 1, 1) <= 0) {
        return;
      }
      if (si.valid_data && to_gid(msg.gid) == layer_) {
        latest_ = std::move(msg);
        seen_info_ = true;
      }
    }
  }

  void collect(dds_entity_t reader, bool writer) {
    constexpr int kMax = 64;
    for (;;) {
      void * samples[kMax] = {nullptr};
      dds_sample_info_t infos[kMax];
      const dds_return_t n = dds_take(reader, samples, infos, kMax, kMax);
      if (n <= 0) {
        return;
      }
      for (dds_return_t i = 0; i < n; ++i) {
        const auto * ep = static_cast<const dds_builtintopic_endpoint_t *>(samples[i]);
        if (!infos[i].valid_data) {
          continue;
        }
        const Gid gid = rclcpp_compat::gid_of(ep->key);
        if (infos[i].instance_state != DDS_IST_ALIVE) {
          discovered_.erase(gid);
          continue;
        }
        dds_qos_t * qos = dds_create_qos();
        dds_copy_qos(qos, ep->qos);
        discovered_[gid] = {ep->topic_name, ep->type_name, writer, rclcpp_compat::gid_of(ep->participant_key),
                            std::shared_ptr<dds_qos_t>(qos, dds_delete_qos)};
      }
      dds_return_loan(reader, samples, n);
    }
  }

  compat_test::Handle participant_;
  compat_test::Handle topic_;
  compat_test::Handle info_reader_;
  compat_test::Handle publications_;
  compat_test::Handle subscriptions_;
  Gid layer_{};
  Info latest_;
  bool seen_info_ = false;
  std::map<Gid, Discovered> discovered_;
};

// What every default rclcpp node (fully qualified name `node`) has besides
// its own endpoints.
std::multiset<Role> default_roles(const std::string & node) {
  std::multiset<Role> roles{{'w', "rt/rosout"}, {'w', "rt/parameter_events"}, {'r', "rt/parameter_events"}};
  for (const char * service : {"describe_parameters", "get_parameter_types", "get_parameters",
                               "list_parameters", "set_parameters", "set_parameters_atomically"}) {
    roles.emplace('r', "rq" + node + "/" + service + "Request");
    roles.emplace('w', "rr" + node + "/" + service + "Reply");
  }
  return roles;
}

std::multiset<Role> with(std::multiset<Role> roles, std::initializer_list<Role> more) {
  roles.insert(more.begin(), more.end());
  return roles;
}

void echo(const std::shared_ptr<Srv::Request>, std::shared_ptr<Srv::Response>) {}

class GraphTest : public compat_test::LayerTest {};

TEST_F(GraphTest, EachNodeIsAnnouncedWithTheGidsOfItsEndpoints) {
  auto server = std::make_shared<rclcpp::Node>("graph_server");
  auto service = server->create_service<Srv>("graph_svc", echo);
  auto caller = std::make_shared<rclcpp::Node>("graph_caller", "/tools");
  auto client = caller->create_client<Srv>("/graph_svc");
  GraphPeer peer;

  const auto expected_server =
      with(default_roles("/graph_server"), {{'r', "rq/graph_svcRequest"}, {'w', "rr/graph_svcReply"}});
  const auto expected_caller =
      with(default_roles("/tools/graph_caller"), {{'w', "rq/graph_svcRequest"}, {'r', "rr/graph_svcReply"}});
  const Info info = peer.wait_for_info([&](const Info & i) {
    const auto * s = GraphPeer::node(i, "/", "graph_server");
    const auto * c = GraphPeer::node(i, "/tools", "graph_caller");
    return s != nullptr && c != nullptr &&
           s->reader_gid_seq.size() + s->writer_gid_seq.size() == expected_server.size() &&
           c->reader_gid_seq.size() + c->writer_gid_seq.size() == expected_caller.size();
  });
  ASSERT_EQ(info.node_entities_info_seq.size(), 2u);
  // The participant's gid is its GUID, then zeros.
  EXPECT_EQ(to_gid(info.gid), peer.layer());
  EXPECT_TRUE(std::all_of(info.gid.data.begin() + 16, info.gid.data.end(), [](auto b) { return b == 0; }));

  const auto * s = GraphPeer::node(info, "/", "graph_server");
  const auto * c = GraphPeer::node(info, "/tools", "graph_caller");
  ASSERT_NE(s, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(peer.roles(*s), expected_server);
  EXPECT_EQ(peer.roles(*c), expected_caller);
}

TEST_F(GraphTest, EntryIsRepublishedWhenEndpointsAndNodesGo) {
  auto node = std::make_shared<rclcpp::Node>("graph_changes");
  auto service = node->create_service<Srv>("graph_changes_svc", echo);
  auto other = std::make_shared<rclcpp::Node>("graph_other");
  GraphPeer peer;
  const auto size_of = [](const NodeInfo * n) { return n->reader_gid_seq.size() + n->writer_gid_seq.size(); };

  peer.wait_for_info([&](const Info & i) {
    const auto * n = GraphPeer::node(i, "/", "graph_changes");
    return n != nullptr && size_of(n) == default_roles("/graph_changes").size() + 2;
  });
  service.reset();
  Info info = peer.wait_for_info([&](const Info & i) {
    const auto * n = GraphPeer::node(i, "/", "graph_changes");
    return n != nullptr && size_of(n) == default_roles("/graph_changes").size();
  });
  EXPECT_EQ(peer.roles(*GraphPeer::node(info, "/", "graph_changes")), default_roles("/graph_changes"));

  other.reset();
  info =
      peer.wait_for_info([&](const Info & i) { return GraphPeer::node(i, "/", "graph_other") == nullptr; });
  ASSERT_EQ(info.node_entities_info_seq.size(), 1u);
  EXPECT_EQ(info.node_entities_info_seq[0].node_name, "graph_changes");
}

TEST_F(GraphTest, NamesFollowRemapping) {
  rclcpp::shutdown();
  const char * argv[] = {"compat_test", "--ros-args",      "-r", "__node:=renamed",
                         "-r",          "__ns:=/remapped", "-r", "graph_remap_svc:=moved_svc"};
  rclcpp::init(static_cast<int>(sizeof argv / sizeof argv[0]), argv);
  auto node = std::make_shared<rclcpp::Node>("original");
  auto service = node->create_service<Srv>("graph_remap_svc", echo);
  GraphPeer peer;

  const Info info = peer.wait_for_info([&](const Info & i) {
    const auto * n = GraphPeer::node(i, "/remapped", "renamed");
    return n != nullptr && n->reader_gid_seq.size() + n->writer_gid_seq.size() ==
                               default_roles("/remapped/renamed").size() + 2;
  });
  EXPECT_EQ(GraphPeer::node(info, "/", "original"), nullptr);
  EXPECT_EQ(peer.roles(*GraphPeer::node(info, "/remapped", "renamed")),
            with(default_roles("/remapped/renamed"),
                 {{'r', "rq/remapped/moved_svcRequest"}, {'w', "rr/remapped/moved_svcReply"}}));
}

// QoS as rmw_cyclonedds_cpp sets it for each profile.
struct QosView {
  dds_reliability_kind_t reliability{};
  dds_durability_kind_t durability{};
  dds_history_kind_t history{};
  int32_t depth = 0;
  dds_duration_t lifespan = DDS_INFINITY;
};

QosView view(const dds_qos_t * qos) {
  QosView v;
  dds_duration_t blocking = 0;
  EXPECT_TRUE(dds_qget_reliability(qos, &v.reliability, &blocking));
  EXPECT_TRUE(dds_qget_durability(qos, &v.durability));
  EXPECT_TRUE(dds_qget_history(qos, &v.history, &v.depth));
  if (!dds_qget_lifespan(qos, &v.lifespan)) {
    v.lifespan = DDS_INFINITY;
  }
  return v;
}

TEST_F(GraphTest, GraphEndpointsHaveRclcppQos) {
  auto node = std::make_shared<rclcpp::Node>("graph_qos");
  GraphPeer peer;

  const auto * info = peer.endpoint("ros_discovery_info", true);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->type, "rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_");
  QosView v = view(info->qos.get());
  EXPECT_EQ(v.reliability, DDS_RELIABILITY_RELIABLE);
  EXPECT_EQ(v.durability, DDS_DURABILITY_TRANSIENT_LOCAL);
  EXPECT_EQ(v.history, DDS_HISTORY_KEEP_LAST);
  EXPECT_EQ(v.depth, 1);

  const auto * rosout = peer.endpoint("rt/rosout", true);
  ASSERT_NE(rosout, nullptr);
  EXPECT_EQ(rosout->type, "rcl_interfaces::msg::dds_::Log_");
  v = view(rosout->qos.get());
  EXPECT_EQ(v.reliability, DDS_RELIABILITY_RELIABLE);
  EXPECT_EQ(v.durability, DDS_DURABILITY_TRANSIENT_LOCAL);
  EXPECT_EQ(v.depth, 1000);
  EXPECT_EQ(v.lifespan, DDS_SECS(10));
  // Late joiners get up to the whole history, not Cyclone's default of one.
  dds_duration_t cleanup = 0;
  dds_history_kind_t kind{};
  int32_t depth = 0;
  int32_t max_samples = 0;
  int32_t max_instances = 0;
  int32_t max_per_instance = 0;
  ASSERT_TRUE(dds_qget_durability_service(rosout->qos.get(), &cleanup, &kind, &depth, &max_samples,
                                          &max_instances, &max_per_instance));
  EXPECT_EQ(kind, DDS_HISTORY_KEEP_LAST);
  EXPECT_EQ(depth, 1000);

  // Parameter services: rmw_qos_profile_parameters (keep last 1000).
  const auto * get = peer.endpoint("rq/graph_qos/get_parametersRequest", false);
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get->type, "rcl_interfaces::srv::dds_::GetParameters_Request_");
  v = view(get->qos.get());
  EXPECT_EQ(v.reliability, DDS_RELIABILITY_RELIABLE);
  EXPECT_EQ(v.durability, DDS_DURABILITY_VOLATILE);
  EXPECT_EQ(v.depth, 1000);

  for (const bool writer : {true, false}) {
    const auto * events = peer.endpoint("rt/parameter_events", writer);
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->type, "rcl_interfaces::msg::dds_::ParameterEvent_");
    v = view(events->qos.get());
    EXPECT_EQ(v.reliability, DDS_RELIABILITY_RELIABLE);
    EXPECT_EQ(v.durability, DDS_DURABILITY_VOLATILE);
    EXPECT_EQ(v.depth, 1000);
  }
}

}  // namespace
