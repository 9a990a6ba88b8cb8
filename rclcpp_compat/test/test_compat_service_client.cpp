// SPDX-License-Identifier: Apache-2.0
// Service and client behaviour of the layer as rclcpp defines it: ordered
// round trips, replies reaching only the client that asked, bounded waits that
// end on time-out or shutdown, spin ending with the context, and large payloads.
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <memory>
#include <mutex>
#include <random>
#include <rclcpp/rclcpp.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "compat_test_support.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using namespace std::chrono_literals;

// Long enough that only a hang reaches it.
constexpr auto kBound = 10s;

void echo(const std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
  response->code = request->cmd_id;
  response->msg = "echo " + std::to_string(request->cmd_id);
  response->biz_data = request->biz_data;
}

class ServiceClientTest : public compat_test::LayerTest {};

TEST_F(ServiceClientTest, ManyRequestsAreAnsweredInOrder) {
  auto server = std::make_shared<rclcpp::Node>("server");
  std::mutex mutex;
  std::vector<int32_t> served;
  auto service = server->create_service<Srv>(
      "sc_many", [&](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          served.push_back(request->cmd_id);
        }
        echo(request, response);
      });
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_many");
  compat_test::Spinner spinner(server);
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  // One at a time, each with its own payload.
  int64_t last_id = 0;
  for (int32_t i = 0; i < 200; ++i) {
    auto request = std::make_shared<Srv::Request>();
    request->cmd_id = i;
    request->biz_data.assign(static_cast<size_t>(i), static_cast<uint8_t>(i));
    auto pending = client->async_send_request(request);
    EXPECT_GT(pending.request_id, last_id);
    last_id = pending.request_id;
    ASSERT_EQ(rclcpp::spin_until_future_complete(node, pending.future, kBound),
              rclcpp::FutureReturnCode::SUCCESS)
        << "request " << i;
    const auto response = pending.future.get();
    ASSERT_EQ(response->code, i);
    ASSERT_EQ(response->msg, "echo " + std::to_string(i));
    ASSERT_EQ(response->biz_data, request->biz_data);
  }

  // A burst as deep as the service queue (keep last 10): served and answered
  // in the order sent.
  std::vector<int32_t> answered;
  std::vector<std::shared_future<Srv::Response::SharedPtr>> futures;
  for (int32_t i = 1000; i < 1010; ++i) {
    auto request = std::make_shared<Srv::Request>();
    request->cmd_id = i;
    futures.push_back(client
                          ->async_send_request(request,
                                               [&answered](std::shared_future<Srv::Response::SharedPtr> f) {
                                                 answered.push_back(f.get()->code);
                                               })
                          .future);
  }
  for (const auto & f : futures) {
    ASSERT_EQ(rclcpp::spin_until_future_complete(node, f, kBound), rclcpp::FutureReturnCode::SUCCESS);
  }
  const std::vector<int32_t> burst = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009};
  EXPECT_EQ(answered, burst);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(served.size(), 210u);
  EXPECT_EQ(std::vector<int32_t>(served.begin() + 200, served.end()), burst);
}

TEST_F(ServiceClientTest, TwoClientsOfOneServiceEachGetTheirOwnAnswers) {
  auto server = std::make_shared<rclcpp::Node>("server");
  auto service = server->create_service<Srv>("sc_two", echo);
  auto node_a = std::make_shared<rclcpp::Node>("caller_a");
  auto node_b = std::make_shared<rclcpp::Node>("caller_b");
  auto client_a = node_a->create_client<Srv>("sc_two");
  auto client_b = node_b->create_client<Srv>("sc_two");
  compat_test::Spinner spinner(server);
  ASSERT_TRUE(client_a->wait_for_service(compat_test::kDiscoveryTimeout));
  ASSERT_TRUE(client_b->wait_for_service(compat_test::kDiscoveryTimeout));

  for (int32_t i = 0; i < 20; ++i) {
    auto request_a = std::make_shared<Srv::Request>();
    request_a->cmd_id = i;
    auto request_b = std::make_shared<Srv::Request>();
    request_b->cmd_id = 100 + i;
    auto a = client_a->async_send_request(request_a);
    auto b = client_b->async_send_request(request_b);
    ASSERT_EQ(rclcpp::spin_until_future_complete(node_b, b.future, kBound),
              rclcpp::FutureReturnCode::SUCCESS);
    ASSERT_EQ(rclcpp::spin_until_future_complete(node_a, a.future, kBound),
              rclcpp::FutureReturnCode::SUCCESS);
    EXPECT_EQ(a.future.get()->code, i);
    EXPECT_EQ(b.future.get()->code, 100 + i);
  }
}

// The reply topic is shared by every client of a service; the header guid
// says whose reply it is. A reply with another client's guid and this
// client's sequence number must not complete its request.
TEST_F(ServiceClientTest, ClientIgnoresRepliesAddressedToAnotherClient) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_guid");
  auto participant = compat_test::make_participant();
  auto rq_topic = compat_test::make_service_topic<Srv::Request>(participant.get(), "rq/sc_guidRequest");
  auto rr_topic = compat_test::make_service_topic<Srv::Response>(participant.get(), "rr/sc_guidReply");
  auto rq_reader = compat_test::make_reader(participant.get(), rq_topic.get());
  auto rr_writer = compat_test::make_writer(participant.get(), rr_topic.get());
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 5;
  auto pending = client->async_send_request(request);

  Srv::Request received_request;
  rclcpp_compat::WireSample received;
  received.message = &received_request;
  const bool got = compat_test::wait_until([&] {
    void * samples[1] = {&received};
    dds_sample_info_t info;
    return dds_take(rq_reader.get(), samples, &info, 1, 1) == 1 && info.valid_data;
  });
  ASSERT_TRUE(got);
  EXPECT_EQ(received.header.seq, pending.request_id);

  auto reply = [&](uint64_t guid, int64_t seq, int32_t code) {
    Srv::Response response;
    response.code = code;
    rclcpp_compat::WireSample sample;
    sample.header = {guid, seq};
    sample.message = &response;
    return dds_write(rr_writer.get(), &sample);
  };
  const uint64_t guid = received.header.guid;
  const int64_t seq = received.header.seq;
  ASSERT_EQ(reply(guid ^ 1u, seq, 666), DDS_RETCODE_OK);    // someone else's
  ASSERT_EQ(reply(guid, seq + 1000, 667), DDS_RETCODE_OK);  // nothing pending
  ASSERT_EQ(rclcpp::spin_until_future_complete(node, pending.future, 300ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  ASSERT_EQ(reply(guid, seq, 1), DDS_RETCODE_OK);  // the answer
  ASSERT_EQ(rclcpp::spin_until_future_complete(node, pending.future, kBound),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(pending.future.get()->code, 1);
}

TEST_F(ServiceClientTest, WaitForServiceIsFalseWithoutAServer) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_nobody");
  EXPECT_FALSE(client->wait_for_service(200ms));
  EXPECT_FALSE(client->service_is_ready());
  EXPECT_FALSE(client->wait_for_service(0s));

  // A service that appears later is found.
  auto server = std::make_shared<rclcpp::Node>("server");
  auto service = server->create_service<Srv>("sc_nobody", echo);
  EXPECT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));
  EXPECT_TRUE(client->service_is_ready());
}

TEST_F(ServiceClientTest, WaitForServiceEndsWithShutdown) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_nobody_either");
  auto forever = std::async(std::launch::async, [&] { return client->wait_for_service(); });
  auto long_wait = std::async(std::launch::async, [&] { return client->wait_for_service(1h); });
  std::this_thread::sleep_for(100ms);  // let both start waiting
  rclcpp::shutdown();
  EXPECT_FALSE(compat_test::get_within(forever));
  EXPECT_FALSE(compat_test::get_within(long_wait));

  // And once shut down, a new wait ends at once instead of after its time-out.
  auto after = std::async(std::launch::async, [&] { return client->wait_for_service(1h); });
  EXPECT_FALSE(compat_test::get_within(after));
}

TEST_F(ServiceClientTest, SpinEndsWithShutdown) {
  auto node = std::make_shared<rclcpp::Node>("server");
  auto service = node->create_service<Srv>("sc_spin", echo);
  auto spinning = std::async(std::launch::async, [&] { rclcpp::spin(node); });
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(spinning.wait_for(0s), std::future_status::timeout);
  rclcpp::shutdown();
  compat_test::get_within(spinning);
  EXPECT_FALSE(rclcpp::ok());

  auto again = std::async(std::launch::async, [&] { rclcpp::spin(node); });
  compat_test::get_within(again);
}

// SIGINT and SIGTERM shut the context down (from outside the handler) and so
// end spin; the application's own shutdown afterwards is harmless.
TEST_F(ServiceClientTest, SignalsEndSpin) {
  for (int signo : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signo);
    if (!rclcpp::ok()) {
      const char * argv[] = {"compat_test"};
      rclcpp::init(1, argv);
    }
    auto node = std::make_shared<rclcpp::Node>("server");
    auto spinning = std::async(std::launch::async, [&] { rclcpp::spin(node); });
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(std::raise(signo), 0);
    compat_test::get_within(spinning);
    EXPECT_FALSE(rclcpp::ok());
    EXPECT_FALSE(rclcpp::shutdown());
  }
}

TEST_F(ServiceClientTest, SpinUntilFutureCompleteTimesOutWhenNobodyAnswers) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_silent");
  // A server that reads requests and never replies.
  auto participant = compat_test::make_participant();
  auto rq_topic = compat_test::make_service_topic<Srv::Request>(participant.get(), "rq/sc_silentRequest");
  auto rr_topic = compat_test::make_service_topic<Srv::Response>(participant.get(), "rr/sc_silentReply");
  auto rq_reader = compat_test::make_reader(participant.get(), rq_topic.get());
  auto rr_writer = compat_test::make_writer(participant.get(), rr_topic.get());
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  auto pending = client->async_send_request(std::make_shared<Srv::Request>());
  EXPECT_EQ(rclcpp::spin_until_future_complete(node, pending.future, 200ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  compat_test::SerializedSample request;
  EXPECT_TRUE(compat_test::take_serialized(rq_reader.get(), request));  // it did go out
  EXPECT_TRUE(client->remove_pending_request(pending.request_id));
}

TEST_F(ServiceClientTest, SpinUntilFutureCompleteIsInterruptedByShutdown) {
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_interrupted");
  auto pending = client->async_send_request(std::make_shared<Srv::Request>());
  auto waiting = std::async(std::launch::async,
                            [&] { return rclcpp::spin_until_future_complete(node, pending.future); });
  std::this_thread::sleep_for(100ms);
  rclcpp::shutdown();
  EXPECT_EQ(compat_test::get_within(waiting), rclcpp::FutureReturnCode::INTERRUPTED);
  EXPECT_EQ(rclcpp::spin_until_future_complete(node, pending.future, 1h),
            rclcpp::FutureReturnCode::INTERRUPTED);
}

TEST_F(ServiceClientTest, MegabytePayloadRoundTrips) {
  auto server = std::make_shared<rclcpp::Node>("server");
  auto service = server->create_service<Srv>("sc_large", echo);
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto client = node->create_client<Srv>("sc_large");
  compat_test::Spinner spinner(server);
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 3;
  request->biz_data.resize(1 << 20);
  std::mt19937 random(42);
  for (auto & byte : request->biz_data) {
    byte = static_cast<uint8_t>(random());
  }
  auto pending = client->async_send_request(request);
  ASSERT_EQ(rclcpp::spin_until_future_complete(node, pending.future, kBound),
            rclcpp::FutureReturnCode::SUCCESS);
  const auto response = pending.future.get();
  EXPECT_EQ(response->code, 3);
  EXPECT_TRUE(response->biz_data == request->biz_data);
}

// -r rules given to rclcpp::init rename nodes and services; a client that
// uses the remapped name reaches the service. As in rcl, a node-specific
// __node/__ns rule matches the name in the code, a node-specific service rule
// the node's name after remapping.
TEST_F(ServiceClientTest, CommandLineRemapsReachNodesAndServices) {
  rclcpp::shutdown();
  const char * argv[] = {
      "data_center", "--ros-args",          "-r", "data_center:__node:=renamed",
      "-r",          "__ns:=/remapped",     "-r", "renamed:robot_status_query:=sc_remapped",
      "--",          "application_argument"};
  rclcpp::init(static_cast<int>(std::size(argv)), argv);
  auto server = std::make_shared<rclcpp::Node>("data_center");
  EXPECT_STREQ(server->get_name(), "renamed");
  EXPECT_STREQ(server->get_namespace(), "/remapped");
  EXPECT_EQ(server->get_fully_qualified_name(), "/remapped/renamed");
  auto service = server->create_service<Srv>("robot_status_query", echo);
  EXPECT_STREQ(service->get_service_name(), "/remapped/sc_remapped");

  auto node = std::make_shared<rclcpp::Node>("caller", "/elsewhere");  // __ns applies to every node
  EXPECT_STREQ(node->get_namespace(), "/remapped");
  auto client = node->create_client<Srv>("sc_remapped");
  EXPECT_STREQ(client->get_service_name(), "/remapped/sc_remapped");
  compat_test::Spinner spinner(server);
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 9;
  auto pending = client->async_send_request(request);
  ASSERT_EQ(rclcpp::spin_until_future_complete(node, pending.future, kBound),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(pending.future.get()->code, 9);
}

TEST_F(ServiceClientTest, BadNamesAndAMissingInitAreReportedThroughTheNodeApi) {
  EXPECT_THROW(rclcpp::Node("bad-name"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("good", "/bad//ns"), rclcpp::exceptions::InvalidNamespaceError);
  auto node = std::make_shared<rclcpp::Node>("good", "ns");
  EXPECT_STREQ(node->get_namespace(), "/ns");
  EXPECT_THROW(node->create_service<Srv>("bad name", echo), rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_THROW(node->create_client<Srv>("~x"), rclcpp::exceptions::InvalidServiceNameError);
  EXPECT_STREQ(node->create_client<Srv>("~/x")->get_service_name(), "/ns/good/x");

  rclcpp::shutdown();
  EXPECT_THROW(rclcpp::Node("late"), rclcpp::exceptions::RCLError);
}

// rclcpp lets a program drop its node before the clients and services made
// from it.
// A client in a group made with automatically_add_to_executor_with_node =
// false is run only by the executor the group was added to: a caller can
// wait for its answer on its own thread while the node spins elsewhere, or
// not at all.
TEST_F(ServiceClientTest, ClientInAGroupOfItsOwnIsRunByItsExecutorOnly) {
  auto server = std::make_shared<rclcpp::Node>("server");
  auto service = server->create_service<Srv>("sc_group", echo);
  compat_test::Spinner server_spinner(server);
  auto node = std::make_shared<rclcpp::Node>("caller");
  auto group = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, false);
  auto client = node->create_client<Srv>("sc_group", rmw_qos_profile_services_default, group);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_callback_group(group, node->get_node_base_interface());
  rclcpp::executors::SingleThreadedExecutor another;
  EXPECT_THROW(another.add_callback_group(group, node->get_node_base_interface()), std::runtime_error);
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 7;
  auto pending = client->async_send_request(request);
  // Spinning the node leaves the group's answer alone...
  EXPECT_EQ(rclcpp::spin_until_future_complete(node, pending.future, 300ms),
            rclcpp::FutureReturnCode::TIMEOUT);
  // ...which its executor runs, while another thread spins the node.
  auto node_spinning = std::async(std::launch::async, [&] { rclcpp::spin(node); });
  ASSERT_EQ(executor.spin_until_future_complete(pending.future, kBound), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(pending.future.get()->code, 7);

  auto unanswered = client->async_send_request(request);
  rclcpp::shutdown();
  compat_test::get_within(node_spinning);
  EXPECT_EQ(executor.spin_until_future_complete(unanswered.future, 1h),
            rclcpp::FutureReturnCode::INTERRUPTED);
}

TEST_F(ServiceClientTest, NodeMayGoBeforeItsClientsAndServices) {
  auto node = std::make_shared<rclcpp::Node>("short_lived");
  auto service = node->create_service<Srv>("sc_order", echo);
  auto client = node->create_client<Srv>("sc_order");
  node.reset();
  client.reset();
  service.reset();

  // The process's DDS state is intact: a new pair still works.
  auto again = std::make_shared<rclcpp::Node>("again");
  auto service2 = again->create_service<Srv>("sc_order", echo);
  auto client2 = again->create_client<Srv>("sc_order");
  ASSERT_TRUE(client2->wait_for_service(compat_test::kDiscoveryTimeout));
  auto pending = client2->async_send_request(std::make_shared<Srv::Request>());
  EXPECT_EQ(rclcpp::spin_until_future_complete(again, pending.future, kBound),
            rclcpp::FutureReturnCode::SUCCESS);
}

}  // namespace
