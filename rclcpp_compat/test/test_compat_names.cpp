// SPDX-License-Identifier: Apache-2.0
// ROS 2 name rules as the layer applies them: expansion of relative and
// private service names, -r remapping (plain and node-specific), __node and
// __ns, and the exceptions for names ROS 2 refuses.
#include <gtest/gtest.h>

#include <rclcpp/exceptions.hpp>
#include <string>
#include <vector>

#include "command_line/arguments.hpp"
#include "command_line/names.hpp"

namespace {

using rclcpp_compat::RemapRule;
using rclcpp_compat::resolve_node_identity;
using rclcpp_compat::resolve_service;
using Rules = std::vector<RemapRule>;

RemapRule rule(const std::string & node, const std::string & from, const std::string & to) {
  return RemapRule{node, from, to};
}

TEST(ServiceNames, ExpandInTheRootNamespace) {
  const Rules none;
  EXPECT_EQ(resolve_service(none, "data_center", "/", "robot_status_query"), "/robot_status_query");
  EXPECT_EQ(resolve_service(none, "data_center", "/", "a/b"), "/a/b");
  EXPECT_EQ(resolve_service(none, "data_center", "/", "/abs/q"), "/abs/q");
  EXPECT_EQ(resolve_service(none, "data_center", "/", "~/private"), "/data_center/private");
  EXPECT_EQ(resolve_service(none, "data_center", "/", "~"), "/data_center");
}

TEST(ServiceNames, ExpandInANamespace) {
  const Rules none;
  EXPECT_EQ(resolve_service(none, "probe", "/ns/sub", "robot_status_query"), "/ns/sub/robot_status_query");
  EXPECT_EQ(resolve_service(none, "probe", "/ns/sub", "~/private"), "/ns/sub/probe/private");
  EXPECT_EQ(resolve_service(none, "probe", "/ns/sub", "/robot_status_query"), "/robot_status_query");
}

TEST(ServiceNames, PlainRulesApplyToEveryNodeAndTheFirstMatchWins) {
  const Rules rules = {rule("", "robot_status_query", "/moved/query"),
                       rule("", "robot_status_query", "/second"), rule("", "/ns/q", "r"),
                       rule("", "~/private", "/public")};
  EXPECT_EQ(resolve_service(rules, "a", "/", "robot_status_query"), "/moved/query");
  EXPECT_EQ(resolve_service(rules, "b", "/", "/robot_status_query"), "/moved/query");
  // A relative rule matches relative to the node's namespace...
  EXPECT_EQ(resolve_service(rules, "a", "/other", "robot_status_query"), "/moved/query");
  EXPECT_EQ(resolve_service(rules, "a", "/other", "/robot_status_query"), "/robot_status_query");
  // ...and so does a relative replacement.
  EXPECT_EQ(resolve_service(rules, "a", "/ns", "q"), "/ns/r");
  EXPECT_EQ(resolve_service(rules, "a", "/", "/ns/q"), "/r");
  EXPECT_EQ(resolve_service(rules, "a", "/", "~/private"), "/public");
  EXPECT_EQ(resolve_service(rules, "a", "/", "unrelated"), "/unrelated");
}

TEST(ServiceNames, NodeSpecificRulesApplyOnlyToThatNode) {
  const Rules rules = {rule("other_node", "robot_status_query", "/not_mine"),
                       rule("data_center", "robot_status_query", "mine")};
  EXPECT_EQ(resolve_service(rules, "data_center", "/", "robot_status_query"), "/mine");
  EXPECT_EQ(resolve_service(rules, "data_center", "/ns", "robot_status_query"), "/ns/mine");
  EXPECT_EQ(resolve_service(rules, "other_node", "/", "robot_status_query"), "/not_mine");
  EXPECT_EQ(resolve_service(rules, "third", "/", "robot_status_query"), "/robot_status_query");
}

TEST(NodeIdentity, NodeAndNamespaceRules) {
  std::string name = "data_center";
  std::string ns = "";
  resolve_node_identity({}, name, ns);
  EXPECT_EQ(name, "data_center");
  EXPECT_EQ(ns, "/");

  name = "data_center";
  ns = "relative";
  resolve_node_identity({}, name, ns);
  EXPECT_EQ(ns, "/relative");

  // Both node-specific rules match the name the code gave, even though the
  // first one changes it.
  name = "data_center";
  ns = "/";
  resolve_node_identity({rule("other", "__node", "wrong"), rule("data_center", "__node", "renamed"),
                         rule("", "__node", "later"), rule("data_center", "__ns", "/moved/here")},
                        name, ns);
  EXPECT_EQ(name, "renamed");
  EXPECT_EQ(ns, "/moved/here");

  name = "n";
  ns = "/given";
  resolve_node_identity({rule("", "__ns", "/global"), rule("", "service", "/x")}, name, ns);
  EXPECT_EQ(name, "n");
  EXPECT_EQ(ns, "/global");
}

// A renamed node's private names and node-specific rules use its new name.
TEST(NodeIdentity, ServicesResolveWithTheRemappedIdentity) {
  const Rules rules = {rule("", "__node", "renamed"), rule("", "__ns", "/moved"),
                       rule("renamed", "robot_status_query", "by_new_name"),
                       rule("data_center", "~/p", "/by_old_name")};
  std::string name = "data_center";
  std::string ns = "/";
  resolve_node_identity(rules, name, ns);
  EXPECT_EQ(resolve_service(rules, name, ns, "robot_status_query"), "/moved/by_new_name");
  EXPECT_EQ(resolve_service(rules, name, ns, "~/p"), "/moved/renamed/p");
}

TEST(InvalidNames, NodeNames) {
  for (const std::string bad : {"", "my-node", "1node", "a b", "node/sub", "~", "n.x"}) {
    SCOPED_TRACE(bad);
    std::string name = bad;
    std::string ns = "/";
    EXPECT_THROW(resolve_node_identity({}, name, ns), rclcpp::exceptions::InvalidNodeNameError);
  }
  std::string name = "good";
  std::string ns = "/";
  EXPECT_THROW(resolve_node_identity({rule("", "__node", "bad-name")}, name, ns),
               rclcpp::exceptions::InvalidNodeNameError);
}

TEST(InvalidNames, Namespaces) {
  for (const std::string bad : {"/a//b", "/a/", "/1a", "/a b", "/a-b", "//"}) {
    SCOPED_TRACE(bad);
    std::string name = "node";
    std::string ns = bad;
    EXPECT_THROW(resolve_node_identity({}, name, ns), rclcpp::exceptions::InvalidNamespaceError);
  }
  std::string name = "node";
  std::string ns = "/";
  EXPECT_THROW(resolve_node_identity({rule("", "__ns", "/bad ns")}, name, ns),
               rclcpp::exceptions::InvalidNamespaceError);
}

TEST(InvalidNames, ServiceNames) {
  for (const std::string bad : {"", "/", "bad name", "1abc", "/a//b", "a/", "a-b", "a~b", "~x", "~bad/p"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(resolve_service({}, "node", "/", bad), rclcpp::exceptions::InvalidServiceNameError);
  }
  // A rule may not turn a good name into a bad one.
  EXPECT_THROW(resolve_service({rule("", "q", "bad name")}, "node", "/", "q"),
               rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(resolve_service({rule("", "q", "~x")}, "node", "/", "q"),
               rclcpp::exceptions::InvalidServiceNameError);
}

}  // namespace
