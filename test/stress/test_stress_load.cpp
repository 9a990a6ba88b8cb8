// SPDX-License-Identifier: Apache-2.0
// The node under concurrent load from several client processes: every
// request answered exactly once with what it must produce, no reply to the
// wrong client, memory flat, and a terminate signal in the middle of it all
// still ending the node cleanly.
//
// DATA_CENTER_STRESS_LOAD_CLIENTS (default 4) client processes, each with
// DATA_CENTER_STRESS_LOAD_WINDOW (default 2) requests in flight, for
// DATA_CENTER_STRESS_LOAD_SECONDS (default 40) seconds; the node's memory is
// compared between the end of the first DATA_CENTER_STRESS_LOAD_WARMUP
// (default 8) seconds and the end of the run. Clients times window should stay
// within the service's queue depth of 10: beyond it the DDS reader drops the
// oldest waiting request, as it does under ROS 2.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"

namespace {

using namespace std::chrono_literals;
using e2e::Caller;
using e2e::Program;

// Memory the node may gain between the end of the warm-up and the end of the
// load: allocator and DDS caches settle within the warm-up, so what is left
// would be a leak (one request's temporaries are a few KiB).
constexpr long kRssGrowthLimitKiB = 2048;
const char kMapToken[] = "map_under_load_7";

struct ClientTotals {
  long sent = 0;
  long answered = 0;
  long raw = 0;
  long wrong = 0;
  long missing = 0;
  long duplicate = 0;
  long unasked = 0;
  long order = 0;
  long unanswered_at_stop = 0;
  long others = 0;
};

// Adds up the summary line of one client; false when there is none.
bool AddSummary(const std::string & out, ClientTotals & totals) {
  static const std::regex line(
      R"(load client \d+: sent (\d+) answered (\d+) raw-replies (\d+) wrong (\d+) missing (\d+) )"
      R"(duplicate (\d+) unasked (\d+) order-violations (\d+) unanswered-at-stop (\d+) )"
      R"(other-clients-replies-seen (\d+) .*)");
  std::smatch m;
  if (!std::regex_search(out, m, line)) {
    return false;
  }
  long * fields[] = {&totals.sent,    &totals.answered, &totals.raw,
                     &totals.wrong,   &totals.missing,  &totals.duplicate,
                     &totals.unasked, &totals.order,    &totals.unanswered_at_stop,
                     &totals.others};
  for (size_t i = 0; i < 10; ++i) {
    *fields[i] += std::stol(m[i + 1]);
  }
  return true;
}

void Print(const std::string & what, const ClientTotals & t) {
  std::cout << what << ": requests " << t.sent << ", replies " << t.answered << " (raw " << t.raw
            << "), wrong " << t.wrong << ", lost " << t.missing << ", duplicate " << t.duplicate
            << ", unasked " << t.unasked << ", out of order " << t.order << ", unanswered at stop "
            << t.unanswered_at_stop << ", replies to other clients seen " << t.others << std::endl;
}

// The node, its map history and a first station list, so that every 10002
// answers some client's list.
struct LoadedNode {
  explicit LoadedNode(int domain) : caller(domain) {
    std::filesystem::create_directories(dir.path() + "/korvane/data/resource/map");
    e2e::WriteFile(dir.path() + "/korvane/data/resource/map/history.map", std::string(kMapToken) + "\n");
    node = std::make_unique<e2e::NodeProcess>(caller.domain(), dir.path());
  }
  std::vector<std::unique_ptr<Program>> StartClients(int count, double seconds, int window,
                                                     const std::vector<std::string> & extra = {}) {
    std::vector<std::unique_ptr<Program>> clients;
    for (int i = 0; i < count; ++i) {
      std::vector<std::string> argv = {STRESS_LOAD_CLIENT,
                                       "--client",
                                       std::to_string(i + 1),
                                       "--seconds",
                                       std::to_string(seconds),
                                       "--window",
                                       std::to_string(window),
                                       "--map",
                                       kMapToken};
      argv.insert(argv.end(), extra.begin(), extra.end());
      const std::string base = dir.path() + "/client" + std::to_string(i + 1);
      clients.push_back(std::make_unique<Program>(
          argv, std::map<std::string, std::string>{{"ROS_DOMAIN_ID", std::to_string(caller.domain())}},
          base + ".out", base + ".err"));
    }
    return clients;
  }
  std::string ClientOut(int i) const {
    return e2e::ReadFile(dir.path() + "/client" + std::to_string(i + 1) + ".out");
  }
  std::string ClientErr(int i) const {
    return e2e::ReadFile(dir.path() + "/client" + std::to_string(i + 1) + ".err");
  }

  Caller caller;
  e2e::TempDir dir;
  std::unique_ptr<e2e::NodeProcess> node;
};

TEST(Load, MixedCommandsFromSeveralProcessesAreEachAnsweredOnceAndRightly) {
  const int clients = static_cast<int>(e2e::EnvLong("DATA_CENTER_STRESS_LOAD_CLIENTS", 4));
  const int window = static_cast<int>(e2e::EnvLong("DATA_CENTER_STRESS_LOAD_WINDOW", 2));
  const long seconds = e2e::EnvLong("DATA_CENTER_STRESS_LOAD_SECONDS", 40);
  const long warmup = e2e::EnvLong("DATA_CENTER_STRESS_LOAD_WARMUP", 8);
  ASSERT_LT(warmup + 2, seconds);
  LoadedNode loaded(e2e::TestDomain(0));
  e2e::NodeProcess & node = *loaded.node;
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const auto seeded = loaded.caller.CallUntilAnswered(10001, e2e::MakeList("load-seed", 1, 3), 20s);
  ASSERT_TRUE(seeded.has_value());
  ASSERT_EQ(seeded->code, 0);
  const long rss_idle = e2e::RssKiB(node.pid());

  auto programs = loaded.StartClients(clients, static_cast<double>(seconds), window);
  std::this_thread::sleep_for(std::chrono::seconds(warmup));
  const long rss_warm = e2e::RssKiB(node.pid());
  std::this_thread::sleep_for(std::chrono::seconds(seconds - warmup - 1));
  const long rss_end = e2e::RssKiB(node.pid());
  for (auto & program : programs) {
    // The clients were busy all along: none may have ended early.
    EXPECT_TRUE(program->Running()) << "a client stopped before the end of the load";
  }

  ClientTotals totals;
  for (int i = 0; i < clients; ++i) {
    SCOPED_TRACE("client " + std::to_string(i + 1));
    EXPECT_EQ(programs[i]->Wait(std::chrono::seconds(seconds + 60)), 0)
        << loaded.ClientOut(i) << loaded.ClientErr(i);
    EXPECT_TRUE(AddSummary(loaded.ClientOut(i), totals)) << loaded.ClientOut(i) << loaded.ClientErr(i);
  }
  Print("load", totals);
  std::cout << "load: node VmRSS idle " << rss_idle << " KiB, after warm-up " << rss_warm
            << " KiB, at the end " << rss_end << " KiB, peak " << e2e::PeakRssKiB(node.pid()) << " KiB"
            << std::endl;

  EXPECT_GT(totals.sent, 0);
  EXPECT_EQ(totals.answered, totals.sent);
  EXPECT_EQ(totals.raw, totals.sent);
  EXPECT_EQ(totals.wrong, 0);
  EXPECT_EQ(totals.missing, 0);
  EXPECT_EQ(totals.duplicate, 0);
  EXPECT_EQ(totals.unasked, 0);
  EXPECT_EQ(totals.order, 0);
  // Each client sees the replies to the others on the shared reply topic.
  EXPECT_GT(totals.others, 0);
  ASSERT_GT(rss_warm, 0);
  EXPECT_LT(rss_end - rss_warm, kRssGrowthLimitKiB);
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

TEST(Load, TerminateSignalInTheMiddleOfTheLoadExitsWithStatusZero) {
  const int clients = static_cast<int>(e2e::EnvLong("DATA_CENTER_STRESS_LOAD_CLIENTS", 4));
  LoadedNode loaded(e2e::TestDomain(1));
  e2e::NodeProcess & node = *loaded.node;
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const auto seeded = loaded.caller.CallUntilAnswered(10001, e2e::MakeList("load-seed", 1, 3), 20s);
  ASSERT_TRUE(seeded.has_value());

  // The clients run until the node stops answering (60 s at most).
  auto programs = loaded.StartClients(clients, 60, 2, {"--until-gone", "--reply-timeout-ms", "2000"});
  std::this_thread::sleep_for(4s);
  for (int i = 0; i < clients; ++i) {
    ASSERT_TRUE(programs[i]->Running()) << "client " << i + 1 << " stopped before the signal\n"
                                        << loaded.ClientOut(i) << loaded.ClientErr(i);
  }
  EXPECT_EQ(node.Stop(SIGTERM, 20s), 0) << node.Stderr();

  ClientTotals totals;
  for (int i = 0; i < clients; ++i) {
    SCOPED_TRACE("client " + std::to_string(i + 1));
    // Replies that came before the signal were all right and each came once.
    EXPECT_EQ(programs[i]->Wait(30s), 0) << loaded.ClientOut(i) << loaded.ClientErr(i);
    EXPECT_TRUE(AddSummary(loaded.ClientOut(i), totals)) << loaded.ClientOut(i) << loaded.ClientErr(i);
  }
  Print("terminate under load", totals);
  EXPECT_GT(totals.answered, 0);
}

// The reply topic is shared by every client of the service. A client that
// is not taking its replies (not scheduled, or busy) must still find its own
// once it looks, however many replies to others came in meanwhile.
TEST(Load, OwnReplySurvivesABurstOfRepliesToAnotherClient) {
  LoadedNode loaded(e2e::TestDomain(2));
  e2e::NodeProcess & node = *loaded.node;
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  Caller & waiting = loaded.caller;
  Caller busy(loaded.caller.domain());
  ASSERT_TRUE(waiting.CallUntilAnswered(10003, "", 20s).has_value());
  ASSERT_TRUE(busy.CallUntilAnswered(10003, "", 20s).has_value());

  auto future = waiting.Send(1002, "");
  // Forty answers to the other client, all after this one's: the node
  // answers in arrival order. Each caller runs only its own node's callbacks.
  for (int i = 0; i < 40; ++i) {
    const auto reply = busy.Call(10003, "", 10s);
    ASSERT_TRUE(reply.has_value()) << "request " << i;
    ASSERT_EQ(reply->payload, e2e::kRobotInfoBytes);
  }
  ASSERT_TRUE(waiting.Poll(future, 10s)) << "the reply was pushed out by replies to the other client";
  const auto reply = Caller::Take(future);
  EXPECT_EQ(reply.code, 0);
  data_center::MapInfo expected;
  expected.set_map_id_str(kMapToken);
  EXPECT_EQ(reply.payload, expected.SerializeAsString());
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

}  // namespace
