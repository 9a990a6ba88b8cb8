// SPDX-License-Identifier: Apache-2.0
// The parameter services of a layer node, called with the layer's own client:
// they answer as a default rclcpp Humble node, whose parameters are
// use_sim_time (false) and the read-only QoS of its /parameter_events
// publisher, with rclcpp's reason texts for refused sets, and announce a
// successful set on /parameter_events.
#include <dds/dds.h>
#include <gtest/gtest.h>

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
#include <string>
#include <vector>

#include "compat_test_support.hpp"
#include "parameter_services.hpp"
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
  std::vector<rcl_interfaces::msg::ParameterEvent> events;
  compat_test::wait_until([&] {
    rcl_interfaces::msg::ParameterEvent event;
    rclcpp_compat::WireSample sample;
    sample.message = &event;
    void * ptr = &sample;
    dds_sample_info_t info;
    while (dds_take(reader.get(), &ptr, &info, 1, 1) > 0) {
      if (info.valid_data && event.node == "/params_set") {
        events.push_back(event);
      }
    }
    return events.size() >= 2;
  });
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
                    use_sim_time(true),
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
      "parameter 'use_sim_time' cannot be set to true: simulated time is not supported here",
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

}  // namespace
