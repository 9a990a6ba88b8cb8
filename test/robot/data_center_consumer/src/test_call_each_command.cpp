// SPDX-License-Identifier: Apache-2.0
// The running data_center node, called for each command through the typed
// client of the installed package. test/test_calls.py starts the node and
// runs this program on the node's ROS_DOMAIN_ID, with the map identifier it
// put in the node's map history as DATA_CENTER_TEST_MAP_ID.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include <google/protobuf/util/message_differencer.h>
#include <data_center/client.hpp>
#include <rclcpp/rclcpp.hpp>

namespace {

using data_center::CallStatus;
using google::protobuf::util::MessageDifferencer;
constexpr auto kBound = std::chrono::seconds(20);

TEST(RunningNode, EachCommandThroughTheTypedClient) {
  rclcpp::init(0, nullptr);
  data_center::Client client(std::make_shared<rclcpp::Node>("data_center_consumer"));
  ASSERT_TRUE(client.WaitForService(kBound));

  data_center::BaseStationInfo stations;
  for (int i : {3, 4}) {
    auto * pose = stations.add_bs_pose();
    pose->set_map_id(i);
    pose->set_x(1.5 * i);
    pose->set_y(-2.0);
    pose->set_map_id_str("m" + std::to_string(i));
  }
  const auto issued = client.IssueBaseStation(stations, kBound);
  ASSERT_EQ(issued.status, CallStatus::kOk) << data_center::ToString(issued.status) << " " << issued.msg;
  const auto stored = client.QueryBaseStation(kBound);
  ASSERT_EQ(stored.status, CallStatus::kOk) << data_center::ToString(stored.status);
  EXPECT_TRUE(MessageDifferencer::Equals(stored.answer, stations)) << stored.answer.DebugString();

  // The node's job statistics are fixed figures.
  const auto info = client.QueryRobotInfo(kBound);
  ASSERT_EQ(info.status, CallStatus::kOk) << data_center::ToString(info.status);
  EXPECT_EQ(info.answer.job_info().work_hours(), 3000);
  EXPECT_EQ(info.answer.job_info().completed_tasks(), 40);
  EXPECT_EQ(info.answer.job_info().clean_areas(), 80000);

  const char * map_id = std::getenv("DATA_CENTER_TEST_MAP_ID");
  ASSERT_NE(map_id, nullptr);
  const auto map = client.QueryLastMap(kBound);
  ASSERT_EQ(map.status, CallStatus::kOk) << data_center::ToString(map.status);
  EXPECT_EQ(map.answer.map_id_str(), map_id);

  rclcpp::shutdown();
}

}  // namespace
