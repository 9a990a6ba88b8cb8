// SPDX-License-Identifier: Apache-2.0
// The node program as a process, called over the middleware of the running
// ROS 2 with an rclcpp client. In a ROS 2 workspace this is the installed
// node, on whatever RMW_IMPLEMENTATION says, as an ordinary user: its working
// folder and rcl's log folder are temporary, and where /opt/korvane/logs
// cannot be written it logs to standard error, which is fine here. Nothing
// here depends on the map-history file.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <korvane_protocol/srv/data_center_srv.hpp>
#include <rclcpp/rclcpp.hpp>
#ifdef DATA_CENTER_ROBOT_BUILD
#include <rmw/rmw.h>
#endif

#include "../loopback_only.hpp"
#include "node_run.hpp"

namespace {

namespace fs = std::filesystem;
using Srv = korvane_protocol::srv::DataCenterSrv;
using Bytes = std::vector<uint8_t>;
using std::chrono::seconds;

using node_run::kBound;
using node_run::NodeRun;

class RunningNode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The client stays off other hosts' traffic as the node does (the node
    // inherits this environment); ROS_DOMAIN_ID comes from the test runner.
    data_center_test::UseLoopbackOnly();
    suite_root_ = MakeTemporaryFolder();
    setenv("ROS_LOG_DIR", (suite_root_ / "client_ros_log").c_str(), 1);
    rclcpp::init(0, nullptr);
    caller_ = std::make_shared<rclcpp::Node>("data_center_system_test");
#ifdef DATA_CENTER_ROBOT_BUILD
    // The node inherits this environment: a run meant for one middleware that
    // fell back to the default would test the other one.
    const char * wanted = std::getenv("RMW_IMPLEMENTATION");
    if (wanted != nullptr && *wanted != '\0') {
      EXPECT_STREQ(rmw_get_implementation_identifier(), wanted);
    }
#endif
  }
  static void TearDownTestSuite() {
    caller_.reset();
    rclcpp::shutdown();
    fs::remove_all(suite_root_);
  }
  void SetUp() override {
    if (!fs::exists(DATA_CENTER_NODE_PROGRAM)) {
      GTEST_SKIP() << "no node program at " DATA_CENTER_NODE_PROGRAM
                      ": build (and install) the package first";
    }
    root_ = MakeTemporaryFolder();
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  static fs::path MakeTemporaryFolder() {
    const char * tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/data_center_test_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
  }

  struct Answer {
    int32_t code = -1;  // -1: no answer (a test failure was added)
    std::string msg;
    Bytes payload;
  };
  // The node's answer to one request, within the bound.
  static Answer Call(int32_t cmd_id, const Bytes & payload = {},
                     const std::string & service = "/robot_status_query") {
    auto client = caller_->create_client<Srv>(service);
    if (!client->wait_for_service(kBound)) {
      ADD_FAILURE() << "service " << service << " not available";
      return {};
    }
    auto request = std::make_shared<Srv::Request>();
    request->cmd_id = cmd_id;
    request->biz_data = payload;
    auto future = client->async_send_request(request);
    if (rclcpp::spin_until_future_complete(caller_, future, kBound) != rclcpp::FutureReturnCode::SUCCESS) {
      ADD_FAILURE() << "no answer from " << service << " to " << cmd_id;
      return {};
    }
    const auto response = future.get();
    return {response->code, response->msg, Bytes(response->biz_data.begin(), response->biz_data.end())};
  }

  static fs::path suite_root_;
  static rclcpp::Node::SharedPtr caller_;
  fs::path root_;
};

fs::path RunningNode::suite_root_;
rclcpp::Node::SharedPtr RunningNode::caller_;

TEST_F(RunningNode, AnswersEachCommandUnderARemappedName) {
  NodeRun node(root_, {DATA_CENTER_NODE_PROGRAM, "--ros-args", "-r",
                       "robot_status_query:=robot_status_query_remapped"});
  ASSERT_TRUE(node.WaitReady()) << node.Output();
  const struct {
    int32_t cmd_id;
    int32_t code;
    bool any_payload;  // 1002: whatever the map history holds, or whether it exists
    Bytes payload;
  } cases[] = {
      {10003, 0, false, {0x0A, 0x09, 0x08, 0xB8, 0x17, 0x10, 0x28, 0x18, 0x80, 0xF1, 0x04}},
      {4242, 10002, false, {}},
      {1002, 0, true, {}},
  };
  for (const auto & c : cases) {
    const Answer answer = Call(c.cmd_id, {}, "/robot_status_query_remapped");
    EXPECT_EQ(answer.code, c.code) << c.cmd_id;
    EXPECT_EQ(answer.msg, "") << c.cmd_id;
    if (!c.any_payload) {
      EXPECT_EQ(answer.payload, c.payload) << c.cmd_id;
    }
  }
  EXPECT_FALSE(caller_->create_client<Srv>("/robot_status_query")->wait_for_service(seconds(2)));
  EXPECT_EQ(node.Stop(SIGINT), 0) << node.Output();
}

TEST_F(RunningNode, KeepsTheStationListAcrossARestartAndRefusedListsChangeNothing) {
  const Bytes list = {0x0A, 0x0B, 0x08, 0x03, 0x11, 0,   0,
                      0,    0,    0,    0,    0xF8, 0x3F};  // bs_pose { map_id: 3 x: 1.5 }
  {
    NodeRun node(root_, {DATA_CENTER_NODE_PROGRAM});
    ASSERT_TRUE(node.WaitReady()) << node.Output();
    EXPECT_EQ(Call(10001, list).code, 0);
    // An empty list encodes to nothing; 0A is a field cut short.
    for (const Bytes & refused : {Bytes{}, Bytes{0x0A}}) {
      const Answer answer = Call(10001, refused);
      EXPECT_EQ(answer.code, 10006) << refused.size() << " bytes";
      EXPECT_EQ(answer.msg, "Deserialize data failed");
    }
    EXPECT_EQ(Call(10002).payload, list);
    EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Output();
  }
  NodeRun restarted(root_, {DATA_CENTER_NODE_PROGRAM});
  ASSERT_TRUE(restarted.WaitReady()) << restarted.Output();
  EXPECT_EQ(Call(10002).payload, list);
  EXPECT_EQ(restarted.Stop(SIGINT), 0) << restarted.Output();
}

// A station list of exactly `size` bytes (16,400 to 2 MiB): one pose whose
// map name fills it.
Bytes ListOfSize(std::size_t size) {
  const std::size_t name = size - 8;  // two tags and two lengths of three bytes
  const auto length = [](std::size_t value, Bytes & out) {
    out.push_back(static_cast<uint8_t>(0x80 | (value & 0x7F)));
    out.push_back(static_cast<uint8_t>(0x80 | ((value >> 7) & 0x7F)));
    out.push_back(static_cast<uint8_t>(value >> 14));
  };
  Bytes list = {0x0A};  // bs_pose
  length(name + 4, list);
  list.push_back(0x22);  // map_id_str
  length(name, list);
  list.insert(list.end(), name, 'm');
  return list;
}

TEST_F(RunningNode, StoresTheLargestListItTakesAndRefusesALargerOne) {
  const Bytes largest = ListOfSize(65536);
  NodeRun node(root_, {DATA_CENTER_NODE_PROGRAM});
  ASSERT_TRUE(node.WaitReady()) << node.Output();
  EXPECT_EQ(Call(10001, largest).code, 0);
  const Answer refused = Call(10001, ListOfSize(65537));
  EXPECT_EQ(refused.code, 10006);
  EXPECT_EQ(refused.msg, "Deserialize data failed");
  EXPECT_EQ(Call(10002).payload, largest);
  const std::string stored = node_run::ReadText(root_ / "work" / "StationInfo.conf");
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), largest);
  EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Output();
}

}  // namespace
