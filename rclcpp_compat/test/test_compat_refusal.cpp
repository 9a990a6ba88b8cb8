// SPDX-License-Identifier: Apache-2.0
// Arguments of the rclcpp API that the layer cannot honour are refused with
// std::invalid_argument naming what was asked, never silently ignored; what
// it does honour is still accepted.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <climits>
#include <functional>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <memory>
#include <rclcpp/rclcpp.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "compat_test_support.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;

void ignore(const std::shared_ptr<Srv::Request>, std::shared_ptr<Srv::Response>) {}

// The message of the std::invalid_argument `f` throws, or "" when it returns.
std::string refusal(const std::function<void()> & f) {
  try {
    f();
  } catch (const std::invalid_argument & e) {
    return e.what();
  }
  return "";
}

class Refusal : public compat_test::LayerTest {};

TEST_F(Refusal, NodeOptionsTheLayerCannotHonour) {
  EXPECT_NE(refusal([] {
              rclcpp::Node("refused", rclcpp::NodeOptions().arguments({"--ros-args", "-r", "__node:=other"}));
            }).find("NodeOptions::arguments"),
            std::string::npos);
  EXPECT_NE(refusal([] {
              rclcpp::Node("refused", rclcpp::NodeOptions().use_global_arguments(false));
            }).find("use_global_arguments"),
            std::string::npos);
  EXPECT_EQ(refusal([] { rclcpp::Node("accepted", rclcpp::NodeOptions()); }), "");
}

TEST_F(Refusal, CallbackGroups) {
  auto node = std::make_shared<rclcpp::Node>("refusal_groups");
  for (const auto type :
       {rclcpp::CallbackGroupType::MutuallyExclusive, rclcpp::CallbackGroupType::Reentrant}) {
    auto group = std::make_shared<rclcpp::CallbackGroup>(type);
    const auto service = refusal([&] {
      node->create_service<Srv>("refused_group", &ignore, rmw_qos_profile_services_default, group);
    });
    EXPECT_NE(service.find("callback group"), std::string::npos) << service;
    EXPECT_NE(service.find("refused_group"), std::string::npos) << service;
    EXPECT_NE(refusal([&] {
                node->create_client<Srv>("refused_group", rmw_qos_profile_services_default, group);
              }).find("callback group"),
              std::string::npos);
  }
  // A group of its own for a client, run by an executor, is accepted; a
  // group spun with its node is not an executor's.
  auto own = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, false);
  EXPECT_EQ(
      refusal([&] { node->create_client<Srv>("accepted_group", rmw_qos_profile_services_default, own); }),
      "");
  EXPECT_NE(refusal([&] {
              node->create_service<Srv>("refused_group", &ignore, rmw_qos_profile_services_default, own);
            }).find("callback group"),
            std::string::npos);
  rclcpp::executors::SingleThreadedExecutor executor;
  EXPECT_NE(refusal([&] {
              executor.add_callback_group(node->create_callback_group(rclcpp::CallbackGroupType::Reentrant),
                                          node->get_node_base_interface());
            }).find("automatically_add_to_executor_with_node"),
            std::string::npos);
}

struct QosCase {
  const char * what;  // part of the expected message
  std::function<void(rmw_qos_profile_t &)> change;
};

TEST_F(Refusal, QosTheLayerDoesNotImplement) {
  auto node = std::make_shared<rclcpp::Node>("refusal_qos");
  const std::vector<QosCase> cases = {
      {"deadline",
       [](rmw_qos_profile_t & q) {
         q.deadline = {1, 0};
       }},
      {"lifespan",
       [](rmw_qos_profile_t & q) {
         q.lifespan = {0, 5};
       }},
      {"liveliness policy",
       [](rmw_qos_profile_t & q) { q.liveliness = RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC; }},
      {"lease duration",
       [](rmw_qos_profile_t & q) {
         q.liveliness_lease_duration = {2, 0};
       }},
      {"avoid_ros_namespace_conventions",
       [](rmw_qos_profile_t & q) { q.avoid_ros_namespace_conventions = true; }},
      {"history policy", [](rmw_qos_profile_t & q) { q.history = RMW_QOS_POLICY_HISTORY_UNKNOWN; }},
      {"depth", [](rmw_qos_profile_t & q) { q.depth = size_t{INT32_MAX} + 1; }},
      {"reliability policy",
       [](rmw_qos_profile_t & q) { q.reliability = RMW_QOS_POLICY_RELIABILITY_UNKNOWN; }},
      {"durability policy", [](rmw_qos_profile_t & q) { q.durability = RMW_QOS_POLICY_DURABILITY_UNKNOWN; }},
  };
  for (const auto & c : cases) {
    rmw_qos_profile_t qos = rmw_qos_profile_services_default;
    c.change(qos);
    const auto service = refusal([&] { node->create_service<Srv>("refused_qos", &ignore, qos); });
    EXPECT_NE(service.find(c.what), std::string::npos) << c.what << ": " << service;
    const auto client = refusal([&] { node->create_client<Srv>("refused_qos", qos); });
    EXPECT_NE(client.find(c.what), std::string::npos) << c.what << ": " << client;
  }
}

// What rmw_cyclonedds_cpp maps onto Cyclone the way the layer does.
TEST_F(Refusal, QosTheLayerImplementsIsAccepted) {
  auto node = std::make_shared<rclcpp::Node>("refusal_qos_accepted");
  const rmw_time_t infinite = {9223372036ull, 854775807ull};
  const std::vector<QosCase> cases = {
      {"services default", [](rmw_qos_profile_t &) {}},
      {"system defaults",
       [](rmw_qos_profile_t & q) {
         q.history = RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT;
         q.reliability = RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT;
         q.durability = RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT;
         q.depth = 0;
       }},
      {"keep all, best effort, transient local",
       [](rmw_qos_profile_t & q) {
         q.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
         q.reliability = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
         q.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
       }},
      {"infinite durations, automatic liveliness",
       [&](rmw_qos_profile_t & q) {
         q.deadline = q.lifespan = q.liveliness_lease_duration = infinite;
         q.liveliness = RMW_QOS_POLICY_LIVELINESS_AUTOMATIC;
       }},
  };
  int n = 0;
  for (const auto & c : cases) {
    rmw_qos_profile_t qos = rmw_qos_profile_services_default;
    c.change(qos);
    const std::string name = "accepted_qos_" + std::to_string(n++);
    EXPECT_EQ(refusal([&] { node->create_service<Srv>(name, &ignore, qos); }), "") << c.what;
    EXPECT_EQ(refusal([&] { node->create_client<Srv>(name, qos); }), "") << c.what;
  }
}

TEST_F(Refusal, ContextsOtherThanTheDefault) {
  auto other = std::make_shared<rclcpp::Context>();
  EXPECT_NE(refusal([&] { rclcpp::ok(other); }).find("default context"), std::string::npos);
  EXPECT_NE(refusal([&] { rclcpp::shutdown(other); }).find("default context"), std::string::npos);
  EXPECT_NE(refusal([&] { other->is_valid(); }).find("default context"), std::string::npos);
  EXPECT_NE(refusal([&] { other->shutdown("x"); }).find("default context"), std::string::npos);
  // None of it touched the default context.
  const auto context = rclcpp::contexts::get_global_default_context();
  EXPECT_TRUE(rclcpp::ok(context));
  EXPECT_TRUE(context->is_valid());
}

// The participant outlives shutdown, so a second init may not move the
// process to another domain without saying so.
TEST_F(Refusal, InitOnAnotherDomainOnceTheParticipantExists) {
  auto node = std::make_shared<rclcpp::Node>("refusal_domain");
  node.reset();
  rclcpp::shutdown();
  const char * argv[] = {"compat_refusal_test"};
  setenv("ROS_DOMAIN_ID", std::to_string(compat_test::private_domain() + 1).c_str(), 1);
  EXPECT_THROW(rclcpp::init(1, argv), rclcpp::exceptions::RCLError);
  EXPECT_FALSE(rclcpp::ok());
  setenv("ROS_LOCALHOST_ONLY", "0", 1);
  setenv("ROS_DOMAIN_ID", std::to_string(compat_test::private_domain()).c_str(), 1);
  EXPECT_THROW(rclcpp::init(1, argv), rclcpp::exceptions::RCLError);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  EXPECT_NO_THROW(rclcpp::init(1, argv));  // the same domain again is fine
  EXPECT_TRUE(rclcpp::ok());
}

}  // namespace
