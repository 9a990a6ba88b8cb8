// SPDX-License-Identifier: Apache-2.0
// One typed client shared by two threads, against a service of this process
// that never answers: a short call queued behind another thread's long call
// gives up at its own timeout while the long call still waits. Built in both
// builds: the client serialises its calls over each one's executor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "../loopback_only.hpp"
#include "data_center/client.hpp"

namespace {

using namespace std::chrono_literals;
using data_center::CallStatus;
using Srv = korvane_protocol::srv::DataCenterSrv;

constexpr auto kBound = 10s;  // only a hang reaches it

// Takes requests and answers none until it is destroyed; spun on a thread of its own.
class SilentService {
 public:
  explicit SilentService(const std::string & name)
      : service_(
            node_->create_service<Srv>(name,
                                       [this](std::shared_ptr<Srv::Request>, std::shared_ptr<Srv::Response>) {
                                         std::unique_lock<std::mutex> lock(mutex_);
                                         ++requests_;
                                         released_.wait(lock, [this] { return leaving_; });
                                       })),
        spinning_([this] { rclcpp::spin(node_); }) {}
  ~SilentService() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      leaving_ = true;
    }
    released_.notify_all();
    rclcpp::shutdown();
    spinning_.join();
  }
  int Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool leaving_ = false;
  int requests_ = 0;
  rclcpp::Node::SharedPtr node_ = std::make_shared<rclcpp::Node>("silent_service");
  rclcpp::Service<Srv>::SharedPtr service_;
  std::thread spinning_;
};

TEST(SharedClient, AQueuedCallGivesUpAtItsOwnTimeout) {
#ifdef DATA_CENTER_TEST_DOMAIN_FIRST  // the standalone build's range; the robot build's runner sets one
  setenv("ROS_DOMAIN_ID", std::to_string(DATA_CENTER_TEST_DOMAIN_FIRST).c_str(), 1);
#endif
  data_center_test::UseLoopbackOnly();
  rclcpp::init(0, nullptr);
  SilentService silent("client_test_silent");
  data_center::Client client(std::make_shared<rclcpp::Node>("caller_shared"), "client_test_silent");
  ASSERT_TRUE(client.WaitForService(kBound));

  std::atomic<bool> long_call_ended{false};
  auto long_call = std::async(std::launch::async, [&] {
    const auto status = client.Call(1, {}, 5s).status;
    long_call_ended = true;
    return status;
  });
  // The long call holds the client once its request arrived.
  const auto give_up = std::chrono::steady_clock::now() + kBound;
  while (silent.Requests() == 0 && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(silent.Requests(), 1);

  EXPECT_EQ(client.Call(2, {}, 300ms).status, CallStatus::kTimedOut);
  EXPECT_FALSE(long_call_ended) << "the short call waited for the long one";
  EXPECT_EQ(long_call.get(), CallStatus::kTimedOut);
}

}  // namespace
