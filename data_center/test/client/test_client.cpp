// SPDX-License-Identifier: Apache-2.0
// The typed client's own logic against a stand-in service in this process:
// how it tells answers, codes, missing services and time-outs apart, and
// that it works from a callback of a node its own executor spins.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "../loopback_only.hpp"
#include "data_center/client.hpp"

namespace {

using namespace std::chrono_literals;
using data_center::CallStatus;
using Srv = korvane_protocol::srv::DataCenterSrv;

constexpr auto kBound = 10s;  // only a hang reaches it

// A service that answers what the test set, after its delay, and keeps the
// last request; spun by an executor on a thread of its own.
struct StandIn {
  struct Answer {
    int32_t code = 0;
    std::string msg, payload;
    std::chrono::milliseconds delay{0};
  };
  explicit StandIn(const std::string & name) {
    service = node->create_service<Srv>(
        name, [this](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
          std::unique_lock<std::mutex> lock(mutex);
          last = *request;
          ++requests;
          const Answer now = answer;
          lock.unlock();
          std::this_thread::sleep_for(now.delay);
          response->code = now.code;
          response->msg = now.msg;
          response->biz_data.assign(now.payload.begin(), now.payload.end());
        });
    executor.add_node(node);
    spinning = std::thread([this] { executor.spin(); });
  }
  ~StandIn() {
    executor.cancel();
    spinning.join();
  }
  void Answers(const Answer & next) {
    std::lock_guard<std::mutex> lock(mutex);
    answer = next;
  }
  Srv::Request Last() {
    std::lock_guard<std::mutex> lock(mutex);
    return last;
  }
  int Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
  }

  rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>("stand_in");
  rclcpp::Service<Srv>::SharedPtr service;
  rclcpp::executors::SingleThreadedExecutor executor;
  std::thread spinning;
  std::mutex mutex;
  Answer answer;
  Srv::Request last;
  int requests = 0;
};

class ClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_center_test::UseLoopbackOnly();
    rclcpp::init(0, nullptr);
  }
  static void TearDownTestSuite() { rclcpp::shutdown(); }
};

// A reply and its decoded answer, encoded again ("" for none).
using Outcome = std::pair<data_center::Reply, std::string>;
template <typename Message>
Outcome Typed(const data_center::Result<Message> & result) {
  return {result, result.answer.SerializeAsString()};
}

enum class Call { kRobotInfo, kStations, kLastMap, kIssue, kAny };
Outcome Invoke(data_center::Client & client, Call call, const data_center::BaseStationInfo & stations) {
  switch (call) {
    case Call::kRobotInfo:
      return Typed(client.QueryRobotInfo(kBound));
    case Call::kStations:
      return Typed(client.QueryBaseStation(kBound));
    case Call::kLastMap:
      return Typed(client.QueryLastMap(kBound));
    case Call::kIssue:
      return {client.IssueBaseStation(stations, kBound), ""};
    case Call::kAny:
      break;
  }
  return {client.Call(4242, {0x01, 0x02}, kBound), ""};
}

TEST_F(ClientTest, AnswersAndCodesAreToldApart) {
  StandIn stand_in("client_test_answers");
  data_center::Client client(std::make_shared<rclcpp::Node>("caller"), "client_test_answers");
  ASSERT_TRUE(client.WaitForService(kBound));
  data_center::RobotInfoResp info;
  info.mutable_job_info()->set_work_hours(3000);
  data_center::BaseStationInfo stations;
  stations.add_bs_pose()->set_map_id_str("m3");
  const std::string info_bytes = info.SerializeAsString(), stations_bytes = stations.SerializeAsString();

  const struct {
    const char * what;
    StandIn::Answer answer;
    Call call;
    int32_t cmd_id;
    std::string sent;
    CallStatus status;
    std::string decoded;
  } cases[] = {
      {"robot info", {0, "", info_bytes}, Call::kRobotInfo, 10003, "", CallStatus::kOk, info_bytes},
      {"station list", {0, "", stations_bytes}, Call::kStations, 10002, "", CallStatus::kOk, stations_bytes},
      {"empty payload, empty message", {}, Call::kStations, 10002, "", CallStatus::kOk, ""},
      {"code 0, payload cut short", {0, "", "\x0a"}, Call::kLastMap, 1002, "", CallStatus::kBadAnswer, ""},
      {"stations sent", {}, Call::kIssue, 10001, stations_bytes, CallStatus::kOk, ""},
      {"refused", {10006, "no", info_bytes}, Call::kRobotInfo, 10003, "", CallStatus::kFailed, ""},
      {"any command", {10002, "", "\x0a"}, Call::kAny, 4242, "\x01\x02", CallStatus::kFailed, ""},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    stand_in.Answers(c.answer);
    const auto [reply, decoded] = Invoke(client, c.call, stations);
    EXPECT_EQ(reply.status, c.status) << data_center::ToString(reply.status);
    EXPECT_EQ(reply.ok(), c.status == CallStatus::kOk);
    EXPECT_EQ(reply.code, c.answer.code);
    EXPECT_EQ(reply.msg, c.answer.msg);
    EXPECT_EQ(std::string(reply.payload.begin(), reply.payload.end()), c.answer.payload);
    EXPECT_EQ(decoded, c.decoded);
    const Srv::Request sent = stand_in.Last();
    EXPECT_EQ(sent.cmd_id, c.cmd_id);
    EXPECT_EQ(std::string(sent.biz_data.begin(), sent.biz_data.end()), c.sent);
  }
}

TEST_F(ClientTest, NoServiceAndTimeOutsAreToldApart) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  EXPECT_EQ(data_center::Client(node, "client_test_nobody").QueryRobotInfo(300ms).status,
            CallStatus::kNoService);

  StandIn slow("client_test_slow");
  data_center::Client client(node, "client_test_slow");
  ASSERT_TRUE(client.WaitForService(kBound));
  slow.Answers({10002, "late", "", 1500ms});
  EXPECT_EQ(client.Call(1, {}, 300ms).status, CallStatus::kTimedOut);
  // The late answer to the first call must not pass for the next one's.
  slow.Answers({0, "", "", 0ms});
  const auto next = client.Call(2, {}, kBound);
  EXPECT_EQ(next.status, CallStatus::kOk) << next.msg;
  EXPECT_EQ(slow.Last().cmd_id, 2);
}

// A list of `poses` poses named so that it encodes to `size` bytes.
data_center::BaseStationInfo ListOfSize(std::size_t size, int poses = 1, int32_t map_id = 0) {
  data_center::BaseStationInfo list;
  for (int i = 0; i < poses; ++i) list.add_bs_pose()->set_map_id(map_id);
  auto * last = list.mutable_bs_pose(poses - 1);
  while (list.ByteSizeLong() < size) last->mutable_map_id_str()->push_back('m');
  return list;
}

// 10001 takes lists up to the node's limit as they encode: one at it is
// sent, as it encodes; one above it is not sent at all, and the status says
// why, naming the limit.
TEST_F(ClientTest, StationListsAboveTheLimitAreNotSent) {
  StandIn stand_in("client_test_limit");
  data_center::Client client(std::make_shared<rclcpp::Node>("caller_limit"), "client_test_limit");
  ASSERT_TRUE(client.WaitForService(kBound));
  const std::size_t limit = static_cast<std::size_t>(data_center::kMaxStationListBytes);
  ASSERT_EQ(limit, 65536u);
  const struct {
    const char * what;
    data_center::BaseStationInfo list;
    CallStatus status;
  } cases[] = {
      {"at the limit", ListOfSize(limit), CallStatus::kOk},
      {"a byte above", ListOfSize(limit + 1), CallStatus::kTooLarge},
      // A negative map_id encodes in ten bytes: 13 a pose, which the node
      // would refuse once decoded, though five-byte varints would fit.
      {"13-byte poses", ListOfSize(8192 * 13, 8192, -1), CallStatus::kTooLarge},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    const int before = stand_in.Requests();
    const auto reply = client.IssueBaseStation(c.list, kBound);
    EXPECT_EQ(reply.status, c.status) << data_center::ToString(reply.status);
    const bool sent = c.status != CallStatus::kTooLarge;
    EXPECT_EQ(stand_in.Requests() - before, sent ? 1 : 0);
    if (sent) {
      const Srv::Request request = stand_in.Last();
      EXPECT_EQ(std::string(request.biz_data.begin(), request.biz_data.end()), c.list.SerializeAsString());
      EXPECT_EQ(request.biz_data.size(), limit);
    }
  }
  EXPECT_STREQ(data_center::ToString(CallStatus::kTooLarge), "station list above 65536 bytes, not sent");
}

// A history of no reply could never be answered; any other depth is the caller's choice.
TEST_F(ClientTest, TakesAnyReplyDepthButZero) {
  auto node = std::make_shared<rclcpp::Node>("caller_depths");
  EXPECT_THROW(data_center::Client(node, "client_test_depth", 0), std::invalid_argument);
  StandIn stand_in("client_test_depth");
  stand_in.Answers({0, "", ""});
  for (const std::size_t depth :
       {std::size_t{1}, std::size_t{10}, static_cast<std::size_t>(data_center::kClientReplyDepth)}) {
    data_center::Client client(node, "client_test_depth", depth);
    EXPECT_EQ(client.Call(1, {}, kBound).status, CallStatus::kOk) << depth;
  }
}

// The caller's node spins in an executor of its own, on one thread, and
// calls from one of its callbacks: the client must not wait on that thread.
TEST_F(ClientTest, WorksFromACallbackOfTheNodesOwnExecutor) {
  StandIn stand_in("client_test_callback");
  data_center::RobotInfoResp info;
  info.mutable_job_info()->set_completed_tasks(40);
  stand_in.Answers({0, "", info.SerializeAsString()});
  auto node = std::make_shared<rclcpp::Node>("caller_with_executor");
  data_center::Client client(node, "client_test_callback");
  std::promise<data_center::Result<data_center::RobotInfoResp>> result;
  std::once_flag once;
  auto timer = node->create_wall_timer(
      10ms, [&] { std::call_once(once, [&] { result.set_value(client.QueryRobotInfo(5s)); }); });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinning([&] { executor.spin(); });
  auto future = result.get_future();
  const bool answered = future.wait_for(kBound) == std::future_status::ready;
  executor.cancel();
  spinning.join();
  ASSERT_TRUE(answered);
  const auto reply = future.get();
  EXPECT_EQ(reply.status, CallStatus::kOk) << data_center::ToString(reply.status);
  EXPECT_EQ(reply.answer.job_info().completed_tasks(), 40);
}

}  // namespace
