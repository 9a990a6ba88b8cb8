// SPDX-License-Identifier: Apache-2.0
// The station list across crashes: the node is killed with SIGKILL at random
// moments while it accepts a stream of lists, and restarted in the same
// working folder. The file it left must decode, and the list the restarted
// node answers must be the last acknowledged one or the one that was in
// flight: never a torn, older or empty one.
//
// SIGKILL ends the process, not the machine: data in the page cache still
// reaches the file, so this proves the replace-by-rename order, not the
// fsyncs (those need a power cut).
//
// DATA_CENTER_STRESS_CRASH_TRIALS (default 250) sets the number of kills,
// DATA_CENTER_STRESS_CRASH_SECONDS (default 150) a time budget after which no
// new trial starts.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <string>
#include <thread>

#include "e2e_support.hpp"

namespace {

using namespace std::chrono_literals;
using e2e::Caller;

constexpr int kPoses = 48;  // about 1.5 KB a list: more than one write could tear
constexpr auto kReplyLimit = 10s;

TEST(CrashSafety, KilledWhileStoringListsTheNodeComesBackWithAnAcknowledgedOne) {
  const long trials = e2e::EnvLong("DATA_CENTER_STRESS_CRASH_TRIALS", 250);
  const auto budget = std::chrono::seconds(e2e::EnvLong("DATA_CENTER_STRESS_CRASH_SECONDS", 150));
  Caller caller(e2e::TestDomain(0));
  e2e::TempDir dir;
  std::mt19937 random(std::random_device{}());
  // Most kills land within the first few writes of a stream; some wait a
  // little longer so that the stream is well under way.
  std::uniform_int_distribution<int> kill_after_us(0, 40000);

  int32_t acknowledged = 0;  // newest list answered with code 0
  int32_t next = 1;
  long kills = 0;
  long acknowledged_writes = 0;
  long in_flight_at_kill = 0;
  long came_back_in_flight = 0;
  long leftover_temp_files = 0;
  const auto start = std::chrono::steady_clock::now();

  // The list the node came back with must be one that was acknowledged, or
  // the one in flight when the kill landed, and the file must hold it.
  const auto check_restart = [&](const e2e::NodeProcess & node) {
    const auto stored = caller.CallUntilAnswered(10002, "", 20s);
    ASSERT_TRUE(stored.has_value()) << "the restarted node does not answer";
    ASSERT_EQ(stored->code, 0);
    const auto answered = e2e::ReadList(stored->payload);
    ASSERT_TRUE(answered.has_value())
        << "10002 answers a list that was never sent (" << stored->payload.size() << " bytes)";
    const auto on_disk = e2e::ReadList(e2e::ReadFile(node.StationFile()));
    ASSERT_TRUE(on_disk.has_value()) << "StationInfo.conf does not decode to a list that was sent";
    EXPECT_EQ(on_disk->seq, answered->seq);
    const int32_t in_flight = next - 1;  // the last list sent
    ASSERT_TRUE(answered->seq == acknowledged || answered->seq == in_flight)
        << "answered list " << answered->seq << ", acknowledged " << acknowledged << ", last sent "
        << in_flight;
    if (answered->seq != acknowledged) {
      ++came_back_in_flight;
    }
    // From here on the node must not go back behind this list.
    acknowledged = answered->seq;
  };

  for (long trial = 0; trial < trials && std::chrono::steady_clock::now() - start < budget; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    e2e::NodeProcess node(caller.domain(), dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();

    if (trial == 0) {
      // The first list is stored normally, so from then on the list is never empty.
      const auto empty = caller.CallUntilAnswered(10002, "", 20s);
      ASSERT_TRUE(empty.has_value()) << "the node does not answer";
      ASSERT_EQ(empty->payload, "");
      const auto first = caller.Call(10001, e2e::MakeList("crash", next, kPoses), kReplyLimit);
      ASSERT_TRUE(first.has_value());
      ASSERT_EQ(first->code, 0);
      acknowledged = next++;
      ++acknowledged_writes;
    } else {
      ASSERT_NO_FATAL_FAILURE(check_restart(node));
    }

    std::atomic<bool> killed{false};
    std::thread killer([&node, &killed, delay = kill_after_us(random)] {
      std::this_thread::sleep_for(std::chrono::microseconds(delay));
      ::kill(node.pid(), SIGKILL);
      killed = true;
    });
    bool waiting = false;
    while (!killed) {
      const int32_t seq = next++;
      auto future = caller.Send(10001, e2e::MakeList("crash", seq, kPoses));
      waiting = true;
      const auto deadline = std::chrono::steady_clock::now() + kReplyLimit;
      bool answered = false;
      while (!killed && std::chrono::steady_clock::now() < deadline) {
        if (caller.Poll(future, 2ms)) {
          answered = true;
          break;
        }
      }
      // A reply already on its way when the kill landed still counts.
      if (!answered && killed && caller.Poll(future, 20ms)) {
        answered = true;
      }
      if (!answered) {
        caller.Forget(future.request_id);
        ASSERT_TRUE(killed.load()) << "list " << seq << " got no reply from a running node";
        break;
      }
      waiting = false;
      const auto reply = Caller::Take(future);
      ASSERT_EQ(reply.code, 0) << reply.msg;
      ASSERT_EQ(reply.payload, "");
      acknowledged = seq;
      ++acknowledged_writes;
    }
    killer.join();
    in_flight_at_kill += waiting ? 1 : 0;
    if (!waiting) {
      next = acknowledged + 1;  // nothing in flight: the next list follows the last one answered
    }
    EXPECT_EQ(node.Stop(SIGKILL), 128 + SIGKILL);
    ++kills;
    leftover_temp_files = static_cast<long>(e2e::ListFiles(node.WorkDir(), "StationInfo.conf.tmp.").size());
  }
  {
    SCOPED_TRACE("after the last kill");
    e2e::NodeProcess node(caller.domain(), dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();
    ASSERT_NO_FATAL_FAILURE(check_restart(node));
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }

  std::cout << "crash safety: trials " << kills << ", SIGKILLs " << kills << ", acknowledged writes "
            << acknowledged_writes << ", kills with a list in flight " << in_flight_at_kill
            << ", restarts that came back with the in-flight list " << came_back_in_flight
            << ", temporary files left by kills " << leftover_temp_files << std::endl;
  // The kills must have met the stream: some while a list was being stored.
  EXPECT_GT(acknowledged_writes, 0);
  EXPECT_GT(in_flight_at_kill, 0);
}

}  // namespace
