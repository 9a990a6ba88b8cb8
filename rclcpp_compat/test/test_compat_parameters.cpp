// SPDX-License-Identifier: Apache-2.0
// The parameter services of a layer node, called with the layer's own client:
// they answer as a default rclcpp Humble node, whose parameters are
// use_sim_time (false unless the command line says otherwise) and the
// read-only QoS of its /parameter_events publisher, with rclcpp's reason texts
// for refused sets, and announce a successful set on /parameter_events. While
// use_sim_time is true the node has a /clock subscription, announced on
// ros_discovery_info.
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <set>
#include <string>
#include <vector>

#include "compat_test_support.hpp"
#include "endpoints/graph.hpp"
#include "parameters/parameter_services.hpp"
#include "params_file.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

namespace srv = rcl_interfaces::srv;
using rcl_interfaces::msg::Parameter;
using rcl_interfaces::msg::ParameterType;

Parameter param(const std::string & name, uint8_t type) {
  Parameter p;
  p.name = name;
  p.value.type = type;
  return p;
}

// The ParameterEvents of node `fqn` taken from `reader`, once there are
// `count` of them (fewer when they do not come).
std::vector<rcl_interfaces::msg::ParameterEvent> wait_for_events(dds_entity_t reader, const std::string & fqn,
                                                                 size_t count) {
  std::vector<rcl_interfaces::msg::ParameterEvent> events;
  compat_test::wait_until([&] {
    rcl_interfaces::msg::ParameterEvent event;
    rclcpp_compat::WireSample sample;
    sample.message = &event;
    void * ptr = &sample;
    dds_sample_info_t info;
    while (dds_take(reader, &ptr, &info, 1, 1) > 0) {
      if (info.valid_data && event.node == fqn) {
        events.push_back(event);
      }
    }
    return events.size() >= count;
  });
  return events;
}

// The QoS of a DDS reader or writer; `read` is false when DDS does not give
// it or a policy is missing.
struct EndpointQos {
  bool read = false;
  dds_reliability_kind_t reliability = DDS_RELIABILITY_BEST_EFFORT;
  dds_durability_kind_t durability = DDS_DURABILITY_VOLATILE;
  dds_history_kind_t history = DDS_HISTORY_KEEP_ALL;
  int32_t depth = 0;
};

EndpointQos qos_of(dds_entity_t endpoint) {
  EndpointQos result;
  dds_qos_t * qos = dds_create_qos();
  result.read = dds_get_qos(endpoint, qos) == DDS_RETCODE_OK &&
                dds_qget_reliability(qos, &result.reliability, nullptr) &&
                dds_qget_durability(qos, &result.durability) &&
                dds_qget_history(qos, &result.history, &result.depth);
  dds_delete_qos(qos);
  return result;
}

// What `ros2 param list` shows for a default rclcpp Humble node.
const std::vector<std::string> kDefaultNames = {
    "qos_overrides./parameter_events.publisher.depth", "qos_overrides./parameter_events.publisher.durability",
    "qos_overrides./parameter_events.publisher.history",
    "qos_overrides./parameter_events.publisher.reliability", "use_sim_time"};
const char kQosDepth[] = "qos_overrides./parameter_events.publisher.depth";
const char kQosHistory[] = "qos_overrides./parameter_events.publisher.history";

Parameter use_sim_time(bool value) {
  Parameter p = param("use_sim_time", ParameterType::PARAMETER_BOOL);
  p.value.bool_value = value;
  return p;
}

class ParametersTest : public compat_test::LayerTest {
 protected:
  // Calls `<target>/<service>` from a node of its own and waits for the answer.
  template <class SrvT>
  std::shared_ptr<typename SrvT::Response> call(const std::string & service, typename SrvT::Request request) {
    auto client = caller_->create_client<SrvT>(target_ + "/" + service);
    EXPECT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout)) << service;
    auto future = client->async_send_request(std::make_shared<typename SrvT::Request>(std::move(request)));
    EXPECT_EQ(rclcpp::spin_until_future_complete(caller_, future, compat_test::kDiscoveryTimeout),
              rclcpp::FutureReturnCode::SUCCESS)
        << service;
    return future.get();
  }

  void start(const std::string & name, const std::string & ns, const std::string & target) {
    node_ = std::make_shared<rclcpp::Node>(name, ns);
    caller_ = std::make_shared<rclcpp::Node>("param_caller");
    spinner_ = std::make_unique<compat_test::Spinner>(node_);
    target_ = target;
  }

  void TearDown() override {
    spinner_.reset();
    compat_test::LayerTest::TearDown();
  }

  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<rclcpp::Node> caller_;
  std::unique_ptr<compat_test::Spinner> spinner_;
  std::string target_;
};

TEST_F(ParametersTest, ReadServicesAnswerAsRclcppDefaultNode) {
  start("params_read", "/ns", "/ns/params_read");

  srv::ListParameters::Request list;
  auto listed = call<srv::ListParameters>("list_parameters", list);
  EXPECT_EQ(listed->result.names, kDefaultNames);
  EXPECT_EQ(listed->result.prefixes, std::vector<std::string>{"qos_overrides./parameter_events.publisher"});
  list.prefixes = {"use_sim_time"};
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names,
            std::vector<std::string>{"use_sim_time"});
  list.prefixes = {"use"};
  EXPECT_TRUE(call<srv::ListParameters>("list_parameters", list)->result.names.empty());
  // Depth counts the levels below the prefix, as in rclcpp.
  list.prefixes = {"qos_overrides"};
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names.size(), 4u);
  list.depth = 1;
  EXPECT_TRUE(call<srv::ListParameters>("list_parameters", list)->result.names.empty());
  list.prefixes.clear();
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names,
            std::vector<std::string>{"use_sim_time"});

  srv::GetParameters::Request get;
  get.names = {"use_sim_time", "use_sim_time"};
  auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 2u);
  for (const auto & v : values) {
    EXPECT_EQ(v.type, ParameterType::PARAMETER_BOOL);
    EXPECT_FALSE(v.bool_value);
  }
  // One undeclared name and rclcpp's service answers nothing at all.
  get.names = {"use_sim_time", "undeclared"};
  EXPECT_TRUE(call<srv::GetParameters>("get_parameters", get)->values.empty());

  srv::GetParameterTypes::Request types;
  types.names = {"use_sim_time"};
  EXPECT_EQ(call<srv::GetParameterTypes>("get_parameter_types", types)->types,
            std::vector<uint8_t>{ParameterType::PARAMETER_BOOL});
  types.names = {"undeclared"};
  EXPECT_TRUE(call<srv::GetParameterTypes>("get_parameter_types", types)->types.empty());

  srv::DescribeParameters::Request describe;
  describe.names = {"use_sim_time"};
  auto descriptors = call<srv::DescribeParameters>("describe_parameters", describe)->descriptors;
  ASSERT_EQ(descriptors.size(), 1u);
  EXPECT_EQ(descriptors[0].name, "use_sim_time");
  EXPECT_EQ(descriptors[0].type, ParameterType::PARAMETER_BOOL);
  EXPECT_FALSE(descriptors[0].read_only);
  EXPECT_FALSE(descriptors[0].dynamic_typing);
  EXPECT_TRUE(descriptors[0].floating_point_range.empty());
  EXPECT_TRUE(descriptors[0].integer_range.empty());
  describe.names = {"undeclared"};
  EXPECT_TRUE(call<srv::DescribeParameters>("describe_parameters", describe)->descriptors.empty());
}

TEST_F(ParametersTest, ParameterEventsQosIsDeclaredReadOnly) {
  start("params_qos", "", "/params_qos");

  srv::GetParameters::Request get;
  get.names = {kDefaultNames.begin(), kDefaultNames.begin() + 4};
  auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].type, ParameterType::PARAMETER_INTEGER);
  EXPECT_EQ(values[0].integer_value, 1000);
  const std::vector<std::string> strings = {"volatile", "keep_last", "reliable"};
  for (size_t i = 0; i < strings.size(); ++i) {
    EXPECT_EQ(values[i + 1].type, ParameterType::PARAMETER_STRING) << i;
    EXPECT_EQ(values[i + 1].string_value, strings[i]) << i;
  }

  srv::DescribeParameters::Request describe;
  describe.names = {kQosDepth, kDefaultNames[3]};
  auto descriptors = call<srv::DescribeParameters>("describe_parameters", describe)->descriptors;
  ASSERT_EQ(descriptors.size(), 2u);
  EXPECT_EQ(descriptors[0].name, kQosDepth);
  EXPECT_EQ(descriptors[0].type, ParameterType::PARAMETER_INTEGER);
  EXPECT_EQ(descriptors[0].description, "qos policy {depth} for publisher {/parameter_events}");
  EXPECT_TRUE(descriptors[0].read_only);
  EXPECT_FALSE(descriptors[0].dynamic_typing);
  EXPECT_EQ(descriptors[1].type, ParameterType::PARAMETER_STRING);
  EXPECT_EQ(descriptors[1].description, "qos policy {reliability} for publisher {/parameter_events}");
  EXPECT_TRUE(descriptors[1].read_only);

  // Refused by both set services, whatever the value, also undeclaring.
  Parameter depth = param(kQosDepth, ParameterType::PARAMETER_INTEGER);
  depth.value.integer_value = 5;
  srv::SetParameters::Request set;
  set.parameters = {depth, param(kQosHistory, ParameterType::PARAMETER_NOT_SET), use_sim_time(false)};
  auto results = call<srv::SetParameters>("set_parameters", set)->results;
  ASSERT_EQ(results.size(), 3u);
  EXPECT_FALSE(results[0].successful);
  EXPECT_EQ(results[0].reason,
            std::string("parameter '") + kQosDepth + "' cannot be set because it is read-only");
  EXPECT_FALSE(results[1].successful);
  EXPECT_EQ(results[1].reason,
            std::string("parameter '") + kQosHistory + "' cannot be set because it is read-only");
  EXPECT_TRUE(results[2].successful);
  srv::SetParametersAtomically::Request atomically;
  atomically.parameters = {use_sim_time(false), depth};
  auto result = call<srv::SetParametersAtomically>("set_parameters_atomically", atomically)->result;
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason,
            std::string("parameter '") + kQosDepth + "' cannot be set because it is read-only");

  get.names = {kQosDepth, kQosHistory};
  values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].integer_value, 1000);
  EXPECT_EQ(values[1].string_value, "keep_last");
}

// The events a node publishes as it is created follow rclcpp's order of
// declaration: use_sim_time (TimeSource), then the QoS parameters in the
// order rclcpp walks the policies (a real node's events, seen by `ros2 topic
// echo /parameter_events`: durability, history, depth, reliability).
TEST(ParameterStoreTest, DeclarationOrderIsRclcpps) {
  rclcpp_compat::NodeParameterStore store;
  const auto declared = store.all();
  std::vector<std::string> names;
  for (const auto & p : declared) {
    names.push_back(p.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"use_sim_time", kDefaultNames[1], kDefaultNames[2],
                                             kDefaultNames[0], kDefaultNames[3]}));
  ASSERT_EQ(declared.size(), 5u);
  EXPECT_EQ(declared[0].value.type, ParameterType::PARAMETER_BOOL);
  EXPECT_EQ(declared[1].value.string_value, "volatile");
  EXPECT_EQ(declared[3].value.integer_value, 1000);
  EXPECT_EQ(declared[4].value.string_value, "reliable");
}

TEST_F(ParametersTest, SettingUseSimTimeFalseSucceedsAndIsAnnounced) {
  start("params_set", "", "/params_set");
  // A peer listening on /parameter_events, as `ros2 param` tools do.
  compat_test::Handle peer = compat_test::make_participant();
  compat_test::Handle topic(
      rclcpp_compat::create_wire_topic(peer.get(), "rt/parameter_events",
                                       rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
                                           rcl_interfaces::msg::ParameterEvent>(),
                                       false));
  compat_test::Handle reader = compat_test::make_reader(peer.get(), topic.get());
  ASSERT_TRUE(compat_test::wait_subscription_matched(reader.get(), 2));  // both layer nodes publish

  srv::SetParameters::Request set;
  set.parameters = {use_sim_time(false)};
  auto results = call<srv::SetParameters>("set_parameters", set)->results;
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].successful);
  EXPECT_EQ(results[0].reason, "");

  srv::SetParametersAtomically::Request atomically;
  atomically.parameters = {use_sim_time(false), use_sim_time(false)};
  EXPECT_TRUE(call<srv::SetParametersAtomically>("set_parameters_atomically", atomically)->result.successful);

  // One event per successful call, naming the node and what changed.
  const auto events = wait_for_events(reader.get(), "/params_set", 2);
  ASSERT_EQ(events.size(), 2u);
  ASSERT_EQ(events[0].changed_parameters.size(), 1u);
  EXPECT_EQ(events[0].changed_parameters[0].name, "use_sim_time");
  EXPECT_EQ(events[0].changed_parameters[0].value.type, ParameterType::PARAMETER_BOOL);
  EXPECT_TRUE(events[0].new_parameters.empty());
  EXPECT_EQ(events[1].changed_parameters.size(), 2u);
  EXPECT_GT(events[1].stamp.sec, 0);
}

TEST_F(ParametersTest, RefusedSetsGiveRclcppReasonsAndChangeNothing) {
  start("params_refused", "", "/params_refused");

  Parameter as_integer = param("use_sim_time", ParameterType::PARAMETER_INTEGER);
  as_integer.value.integer_value = 1;
  srv::SetParameters::Request set;
  set.parameters = {param("undeclared", ParameterType::PARAMETER_BOOL),
                    as_integer,
                    param("use_sim_time", ParameterType::PARAMETER_STRING_ARRAY),
                    param("use_sim_time", ParameterType::PARAMETER_NOT_SET),
                    param("", ParameterType::PARAMETER_BOOL),
                    param("use_sim_time", 42),
                    use_sim_time(false)};
  auto results = call<srv::SetParameters>("set_parameters", set)->results;
  ASSERT_EQ(results.size(), set.parameters.size());
  const std::vector<std::string> reasons = {
      "parameter 'undeclared' cannot be set because it was not declared",
      "Wrong parameter type, parameter {use_sim_time} is of type {bool}, setting it to {integer} is not "
      "allowed.",
      "Wrong parameter type, parameter {use_sim_time} is of type {bool}, setting it to {string_array} is not "
      "allowed.",
      "cannot undeclare an statically typed parameter",
      "parameter name must not be empty",
      "Unknown type: 42",
  };
  for (size_t i = 0; i < reasons.size(); ++i) {
    EXPECT_FALSE(results[i].successful) << i;
    EXPECT_EQ(results[i].reason, reasons[i]) << i;
  }
  // Each parameter on its own: the last one still succeeds.
  EXPECT_TRUE(results.back().successful);

  // All or nothing: one bad parameter and nothing is set.
  srv::SetParametersAtomically::Request atomically;
  atomically.parameters = {use_sim_time(false), param("undeclared", ParameterType::PARAMETER_BOOL)};
  auto result = call<srv::SetParametersAtomically>("set_parameters_atomically", atomically)->result;
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(result.reason, "One or more parameters were not declared before setting");
  atomically.parameters = {use_sim_time(false), as_integer};
  result = call<srv::SetParametersAtomically>("set_parameters_atomically", atomically)->result;
  EXPECT_FALSE(result.successful);
  EXPECT_EQ(
      result.reason,
      "Wrong parameter type, parameter {use_sim_time} is of type {bool}, setting it to {integer} is not "
      "allowed.");

  srv::GetParameters::Request get;
  get.names = {"use_sim_time"};
  auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].type, ParameterType::PARAMETER_BOOL);
  EXPECT_FALSE(values[0].bool_value);
}

TEST_F(ParametersTest, ServiceNamesFollowNodeRemapping) {
  rclcpp::shutdown();
  const char * argv[] = {"compat_test", "--ros-args",
                         "-r",          "params_orig:__node:=params_moved",
                         "-r",          "params_orig:__ns:=/elsewhere"};
  rclcpp::init(static_cast<int>(sizeof argv / sizeof argv[0]), argv);
  start("params_orig", "", "/elsewhere/params_moved");

  srv::ListParameters::Request list;
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names, kDefaultNames);
}

// ---- use_sim_time from the command line, and /clock ---------------------------

using rmw_dds_common::msg::ParticipantEntitiesInfo;

// Reads ros_discovery_info as tools do, and the layer's own /clock readers.
class GraphView {
 public:
  GraphView() : participant_(compat_test::make_participant()) {
    topic_ = compat_test::Handle(rclcpp_compat::create_wire_topic(
        participant_.get(), "ros_discovery_info",
        rosidl_typesupport_introspection_cpp::get_message_type_support_handle<ParticipantEntitiesInfo>(),
        false));
    dds_qos_t * qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, 0);
    reader_ = compat_test::Handle(dds_create_reader(participant_.get(), topic_.get(), qos, nullptr));
    dds_delete_qos(qos);
    layer_ = compat_test::find_layer_participant(participant_.get());
  }

  // The layer's readers on /clock.
  std::vector<dds_entity_t> clock_readers() const { return endpoints("rt/clock", false); }
  // The layer's readers or writers on a DDS topic.
  std::vector<dds_entity_t> endpoints(const std::string & topic, bool writers) const {
    std::vector<dds_entity_t> found;
    for (const dds_entity_t child : rclcpp_compat::children_of(layer_)) {
      for (const dds_entity_t endpoint : rclcpp_compat::children_of(child)) {
        if ((dds_get_publisher(endpoint) > 0) == writers && dds_get_topic(endpoint) > 0 &&
            compat_test::topic_name_of(endpoint) == topic) {
          found.push_back(endpoint);
        }
      }
    }
    return found;
  }

  // How many of node `fqn`'s announced readers are /clock readers, once the
  // announcement says `expected`; the last count seen otherwise.
  size_t wait_clock_readers_of(const std::string & ns, const std::string & name, size_t expected) {
    size_t count = 0;
    compat_test::wait_until([&] {
      // The topic has no key: every participant of the domain (other cases
      // of this test run beside it) writes the one instance, so the latest
      // entry is kept per participant.
      for (;;) {
        ParticipantEntitiesInfo info;
        rclcpp_compat::WireSample sample;
        sample.message = &info;
        void * ptr = &sample;
        dds_sample_info_t si;
        if (dds_take(reader_.get(), &ptr, &si, 1, 1) <= 0) {
          break;
        }
        if (si.valid_data) {
          latest_[std::string(info.gid.data.begin(), info.gid.data.end())] = info;
        }
      }
      count = 0;
      for (const auto & entry : latest_) {
        for (const auto & node : entry.second.node_entities_info_seq) {
          if (node.node_namespace != ns || node.node_name != name) {
            continue;
          }
          for (const dds_entity_t reader : clock_readers()) {
            const auto gid = rclcpp_compat::gid_of(reader);
            count += static_cast<size_t>(std::count_if(
                node.reader_gid_seq.begin(), node.reader_gid_seq.end(),
                [&](const auto & g) { return std::memcmp(g.data.data(), gid.data(), gid.size()) == 0; }));
          }
        }
      }
      return count == expected;
    });
    return count;
  }

 private:
  compat_test::Handle participant_;
  compat_test::Handle topic_;
  compat_test::Handle reader_;
  dds_entity_t layer_ = 0;
  std::map<std::string, ParticipantEntitiesInfo> latest_;  // by participant gid
};

using compat_test::ParamsFile;

class CommandLineParametersTest : public ParametersTest {
 protected:
  void restart(std::vector<std::string> args) {
    rclcpp::shutdown();
    args.insert(args.begin(), {"compat_test", "--ros-args"});
    std::vector<const char *> argv;
    for (const auto & a : args) {
      argv.push_back(a.c_str());
    }
    rclcpp::init(static_cast<int>(argv.size()), argv.data());
  }

  bool use_sim_time_value() {
    srv::GetParameters::Request get;
    get.names = {"use_sim_time"};
    const auto values = call<srv::GetParameters>("get_parameters", get)->values;
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(values.empty() ? 0 : values[0].type, ParameterType::PARAMETER_BOOL);
    return !values.empty() && values[0].bool_value;
  }

  bool set_use_sim_time(bool value) {
    srv::SetParameters::Request set;
    set.parameters = {use_sim_time(value)};
    const auto results = call<srv::SetParameters>("set_parameters", set)->results;
    return results.size() == 1 && results[0].successful;
  }
};

TEST_F(CommandLineParametersTest, ParamRuleSetsUseSimTimeAndTheNodeSubscribesToClock) {
  restart({"-p", "use_sim_time:=true"});
  start("cli_true", "", "/cli_true");
  EXPECT_TRUE(use_sim_time_value());
  GraphView graph;
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_true", 1), 1u);
  // A rule without a node name is for every node: the caller has one too.
  EXPECT_EQ(graph.wait_clock_readers_of("/", "param_caller", 1), 1u);
  ASSERT_EQ(graph.clock_readers().size(), 2u);

  // rclcpp::ClockQoS: best effort, volatile, keep last 1.
  const EndpointQos clock_qos = qos_of(graph.clock_readers()[0]);
  ASSERT_TRUE(clock_qos.read);
  EXPECT_EQ(clock_qos.reliability, DDS_RELIABILITY_BEST_EFFORT);
  EXPECT_EQ(clock_qos.durability, DDS_DURABILITY_VOLATILE);
  EXPECT_EQ(clock_qos.history, DDS_HISTORY_KEEP_LAST);
  EXPECT_EQ(clock_qos.depth, 1);
  EXPECT_EQ(compat_test::type_name_of(graph.clock_readers()[0]), "rosgraph_msgs::msg::dds_::Clock_");

  // With the subscription rclcpp declares its QoS overriding parameters,
  // read-only.
  const std::vector<std::string> clock = {
      "qos_overrides./clock.subscription.depth", "qos_overrides./clock.subscription.durability",
      "qos_overrides./clock.subscription.history", "qos_overrides./clock.subscription.reliability"};
  std::vector<std::string> all = clock;
  all.insert(all.end(), kDefaultNames.begin(), kDefaultNames.end());
  srv::ListParameters::Request list;
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names, all);
  srv::GetParameters::Request get;
  get.names = clock;
  const auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].integer_value, 1);
  EXPECT_EQ(values[1].string_value, "volatile");
  EXPECT_EQ(values[2].string_value, "keep_last");
  EXPECT_EQ(values[3].string_value, "best_effort");
  srv::DescribeParameters::Request describe;
  describe.names = {all[0]};
  const auto descriptors = call<srv::DescribeParameters>("describe_parameters", describe)->descriptors;
  ASSERT_EQ(descriptors.size(), 1u);
  EXPECT_TRUE(descriptors[0].read_only);
  EXPECT_EQ(descriptors[0].type, ParameterType::PARAMETER_INTEGER);
  EXPECT_EQ(descriptors[0].description, "qos policy {depth} for subscription {/clock}");
  Parameter depth_param = param(all[0], ParameterType::PARAMETER_INTEGER);
  depth_param.value.integer_value = 5;
  srv::SetParameters::Request set_depth;
  set_depth.parameters = {depth_param};
  const auto refused = call<srv::SetParameters>("set_parameters", set_depth)->results;
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_FALSE(refused[0].successful);
  EXPECT_EQ(refused[0].reason, "parameter '" + all[0] + "' cannot be set because it is read-only");

  // Off over the service: the subscription goes; on again: it is back.
  ASSERT_TRUE(set_use_sim_time(false));
  EXPECT_FALSE(use_sim_time_value());
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_true", 0), 0u);
  EXPECT_EQ(graph.clock_readers().size(), 1u);  // the caller's
  ASSERT_TRUE(set_use_sim_time(true));
  EXPECT_TRUE(use_sim_time_value());
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_true", 1), 1u);
  // Setting it again changes nothing: still one subscription.
  ASSERT_TRUE(set_use_sim_time(true));
  EXPECT_EQ(graph.clock_readers().size(), 2u);

  // The QoS parameters stay declared, as in rclcpp.
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names, all);

  // All or nothing, applied in order: the last value counts.
  srv::SetParametersAtomically::Request atomically;
  atomically.parameters = {use_sim_time(true), use_sim_time(false)};
  ASSERT_TRUE(call<srv::SetParametersAtomically>("set_parameters_atomically", atomically)->result.successful);
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_true", 0), 0u);
}

TEST_F(CommandLineParametersTest, FalseOrAnotherNodesRuleLeavesUseSimTimeFalse) {
  restart({"-p", "use_sim_time:=false", "--param", "other_node:use_sim_time:=true", "-p", "undeclared:=1"});
  start("cli_false", "", "/cli_false");
  EXPECT_FALSE(use_sim_time_value());
  // Undeclared names in overrides are ignored, as rclcpp ignores them.
  srv::ListParameters::Request list;
  EXPECT_EQ(call<srv::ListParameters>("list_parameters", list)->result.names, kDefaultNames);
  GraphView graph;
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_false", 0), 0u);
  EXPECT_TRUE(graph.clock_readers().empty());

  // Setting true over the service is accepted now, and subscribes.
  ASSERT_TRUE(set_use_sim_time(true));
  EXPECT_EQ(graph.wait_clock_readers_of("/", "cli_false", 1), 1u);
}

TEST_F(CommandLineParametersTest, QosOverridesFromTheCommandLineSetTheClockQos) {
  restart({"-p", "cli_qos:use_sim_time:=true", "-p",
           "cli_qos:qos_overrides./clock.subscription.reliability:=reliable", "-p",
           "qos_overrides./clock.subscription.depth:=7"});
  start("cli_qos", "", "/cli_qos");
  GraphView graph;
  ASSERT_EQ(graph.wait_clock_readers_of("/", "cli_qos", 1), 1u);
  ASSERT_EQ(graph.clock_readers().size(), 1u);
  const EndpointQos clock_qos = qos_of(graph.clock_readers()[0]);
  ASSERT_TRUE(clock_qos.read);
  EXPECT_EQ(clock_qos.reliability, DDS_RELIABILITY_RELIABLE);
  EXPECT_EQ(clock_qos.depth, 7);
  srv::GetParameters::Request get;
  get.names = {"qos_overrides./clock.subscription.reliability"};
  const auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].string_value, "reliable");
}

// As rclcpp Humble: the publisher's QoS comes from values named
// qos_overrides./parameter_events.<policy>; values for the declared
// ...publisher.<policy> parameters show in them and change no QoS.
TEST_F(CommandLineParametersTest, ParameterEventsQosFollowsTheNamesRclcppReads) {
  restart({"-p", "cli_events_qos:qos_overrides./parameter_events.publisher.depth:=20", "-p",
           "cli_events_qos:qos_overrides./parameter_events.durability:=transient_local", "-p",
           "cli_events_bad:qos_overrides./parameter_events.history:=keep_some", "-p",
           "cli_events_type:qos_overrides./parameter_events.depth:=deep"});
  EXPECT_THROW(std::make_shared<rclcpp::Node>("cli_events_bad"), std::invalid_argument);
  EXPECT_THROW(std::make_shared<rclcpp::Node>("cli_events_type"),
               rclcpp::exceptions::InvalidParameterTypeException);
  start("cli_events_qos", "", "/cli_events_qos");
  GraphView graph;
  // The node's writer is transient local, the caller's keeps rclcpp's
  // default; both keep depth 1000.
  std::multiset<std::pair<int, int32_t>> writers;  // durability, depth
  for (const dds_entity_t writer : graph.endpoints("rt/parameter_events", true)) {
    const EndpointQos qos = qos_of(writer);
    EXPECT_TRUE(qos.read);
    EXPECT_EQ(qos.history, DDS_HISTORY_KEEP_LAST);
    writers.emplace(qos.durability, qos.depth);
  }
  EXPECT_EQ(writers, (std::multiset<std::pair<int, int32_t>>{{DDS_DURABILITY_VOLATILE, 1000},
                                                             {DDS_DURABILITY_TRANSIENT_LOCAL, 1000}}));
  srv::GetParameters::Request get;
  get.names = {kQosDepth};
  const auto values = call<srv::GetParameters>("get_parameters", get)->values;
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].integer_value, 20);
}

TEST_F(CommandLineParametersTest, ParamsFileMatchesTheNameAfterRemapping) {
  const ParamsFile file("remapped.yaml",
                        "/**:\n  ros__parameters:\n    use_sim_time: false\n"
                        "/moved_ns/cli_moved:\n  ros__parameters:\n    use_sim_time: true\n"
                        "cli_orig:\n  ros__parameters:\n    use_sim_time: false\n");
  restart({"-r", "cli_orig:__node:=cli_moved", "-r", "cli_orig:__ns:=/moved_ns", "--params-file", file.path(),
           "-p", "cli_orig:use_sim_time:=false"});
  start("cli_orig", "", "/moved_ns/cli_moved");
  EXPECT_TRUE(use_sim_time_value());
  GraphView graph;
  EXPECT_EQ(graph.wait_clock_readers_of("/moved_ns", "cli_moved", 1), 1u);
  // The caller matched only "/**".
  EXPECT_EQ(graph.clock_readers().size(), 1u);
}

TEST_F(CommandLineParametersTest, AnnouncesTheValueItWasDeclaredWith) {
  restart({"-p", "data_center_events:use_sim_time:=yes"});
  // A first node sets the domain up with the layer's configuration.
  auto first = std::make_shared<rclcpp::Node>("events_first");
  compat_test::Handle peer = compat_test::make_participant();
  compat_test::Handle topic(
      rclcpp_compat::create_wire_topic(peer.get(), "rt/parameter_events",
                                       rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
                                           rcl_interfaces::msg::ParameterEvent>(),
                                       false));
  compat_test::Handle reader = compat_test::make_reader(peer.get(), topic.get());
  // The peer shares this process's DDS domain, so it matches the node's
  // writer as the writer is created and sees its first events.
  start("data_center_events", "", "/data_center_events");
  const auto events = wait_for_events(reader.get(), "/data_center_events", 9);
  // use_sim_time as declared, one event per QoS parameter of
  // /parameter_events, then one per QoS parameter of /clock, in rclcpp's order.
  ASSERT_EQ(events.size(), 9u);
  const std::vector<std::string> names = {"use_sim_time",
                                          "qos_overrides./parameter_events.publisher.durability",
                                          "qos_overrides./parameter_events.publisher.history",
                                          "qos_overrides./parameter_events.publisher.depth",
                                          "qos_overrides./parameter_events.publisher.reliability",
                                          "qos_overrides./clock.subscription.durability",
                                          "qos_overrides./clock.subscription.history",
                                          "qos_overrides./clock.subscription.depth",
                                          "qos_overrides./clock.subscription.reliability"};
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(events[i].new_parameters.size(), 1u) << i;
    EXPECT_EQ(events[i].new_parameters[0].name, names[i]);
    EXPECT_TRUE(events[i].changed_parameters.empty());
  }
  EXPECT_TRUE(events[0].new_parameters[0].value.bool_value);
}

TEST_F(CommandLineParametersTest, WrongTypeOrNoValueMakesNodeCreationFail) {
  restart({"-p", "cli_wrong:use_sim_time:=1", "-p", "cli_empty:use_sim_time:=[]", "-p",
           "cli_bad_qos_type:use_sim_time:=true", "-p",
           "cli_bad_qos_type:qos_overrides./clock.subscription.depth:=deep", "-p",
           "cli_bad_qos_value:use_sim_time:=true", "-p",
           "cli_bad_qos_value:qos_overrides./clock.subscription.history:=keep_some"});
  try {
    std::make_shared<rclcpp::Node>("cli_wrong");
    ADD_FAILURE() << "an integer use_sim_time was accepted";
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & e) {
    EXPECT_STREQ(
        e.what(),
        "parameter 'use_sim_time' has invalid type: Wrong parameter type, parameter {use_sim_time} is of "
        "type {bool}, setting it to {integer} is not allowed.");
  }
  EXPECT_THROW(std::make_shared<rclcpp::Node>("cli_empty"),
               rclcpp::exceptions::InvalidParameterValueException);
  // The /clock QoS parameters are checked as they are declared, at creation
  // when use_sim_time is true there.
  EXPECT_THROW(std::make_shared<rclcpp::Node>("cli_bad_qos_type"),
               rclcpp::exceptions::InvalidParameterTypeException);
  EXPECT_THROW(std::make_shared<rclcpp::Node>("cli_bad_qos_value"), std::invalid_argument);
  // Other nodes are not affected, and the failed ones left nothing behind.
  start("cli_fine", "", "/cli_fine");
  EXPECT_FALSE(use_sim_time_value());
  GraphView graph;
  EXPECT_TRUE(graph.clock_readers().empty());
}

}  // namespace
