// SPDX-License-Identifier: Apache-2.0
// The node binary over DDS: start, logging, unknown commands, signals,
// remapping and domain isolation.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <regex>

#include "e2e_support.hpp"

namespace {

using e2e::Cli;
using e2e::NodeProcess;
using e2e::TempDir;

// Each test has its own ROS_DOMAIN_ID: e2e::TestDomain(0-7).
const std::regex kLogLine(
    R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[thread \d+\] \[data_center\] \[(debug|error)\] )"
    R"(\[\./src/query_handler\.cpp:\d+\] .*)");

TEST(NodeLifecycle, UnknownCommandsAnswer10002AndLogOneLineEach) {
  const int domain = e2e::TestDomain(0);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  // The day's file exists from the start, before anything is logged.
  ASSERT_EQ(e2e::ListFiles(node.LogDir()), std::vector<std::string>{e2e::TodayLogName()});
  EXPECT_TRUE(e2e::Lines(node.Log()).empty());

  for (const std::string cmd : {"0", "-7", "10000", "2147483647"}) {
    const auto r = Cli(domain, {"call", cmd});
    EXPECT_EQ(r.exit_status, 1) << cmd << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("code: 10002\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("msg: \"\"\n"), std::string::npos) << r.out;
  }
  const auto lines = e2e::Lines(node.Log());
  ASSERT_EQ(lines.size(), 4u);
  const char * expected[] = {"(0)", "(-7)", "(10000)", "(2147483647)"};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], kLogLine)) << lines[i];
    EXPECT_NE(lines[i].find("[error]"), std::string::npos) << lines[i];
    const std::string tail = std::string("] current query cmd id:") + expected[i] + " is not support";
    EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << lines[i];
  }
  EXPECT_EQ(node.Stop(SIGINT), 0);
  EXPECT_EQ(e2e::Lines(node.Stdout()), std::vector<std::string>{"after advertiseService robot_status_query"});
}

class NodeSignals : public ::testing::TestWithParam<int> {};

TEST_P(NodeSignals, SignalWhileSpinningExitsWithStatusZero) {
  const int domain = e2e::TestDomain(GetParam() == SIGINT ? 1 : 2);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_EQ(Cli(domain, {"call", "1"}).exit_status, 1);  // it serves before the signal
  EXPECT_EQ(node.Stop(GetParam()), 0) << node.Stderr();
}

INSTANTIATE_TEST_SUITE_P(InterruptAndTerminate, NodeSignals, ::testing::Values(SIGINT, SIGTERM));

TEST(NodeLifecycle, UncreatableLogFolderIsReportedOnceAndTheServiceStillAnswers) {
  const int domain = e2e::TestDomain(3);
  TempDir dir;
  // A plain file where the log folder's parent should be: no folder can be made.
  ASSERT_EQ(mkdir((dir.path() + "/korvane").c_str(), 0755), 0);
  e2e::WriteFile(dir.path() + "/korvane/logs", "not a folder");
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const auto out = e2e::Lines(node.Stdout());
  ASSERT_EQ(out.size(), 2u);
  const std::string prefix = "log initialization failed[Failed opening file /opt/korvane/logs/data_center/" +
                             e2e::TodayLogName() + " for writing";
  EXPECT_EQ(out[0].compare(0, prefix.size(), prefix), 0) << out[0];
  EXPECT_EQ(out[0].back(), ']');
  EXPECT_EQ(out[1], "after advertiseService robot_status_query");

  const auto r = Cli(domain, {"call", "31"});
  EXPECT_EQ(r.exit_status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("code: 10002\n"), std::string::npos) << r.out;
  // Without a file the record goes to standard error, in the same format.
  bool found = false;
  for (const auto & line : e2e::Lines(node.Stderr())) {
    if (std::regex_match(line, kLogLine) &&
        line.find("current query cmd id:(31) is not support") != std::string::npos) {
      found = true;
    }
  }
  EXPECT_TRUE(found) << node.Stderr();
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

TEST(NodeLifecycle, NodesOnOtherDomainsAreInvisible) {
  const int domain = e2e::TestDomain(4);
  const int other_domain = e2e::TestDomain(5);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const auto other = Cli(other_domain, {"--timeout", "1", "call", "1"});
  EXPECT_EQ(other.exit_status, 3) << other.out << other.err;
  const auto same = Cli(domain, {"call", "1"});
  EXPECT_EQ(same.exit_status, 1) << same.out << same.err;
  EXPECT_TRUE(e2e::Lines(node.Log()).size() == 1u);
}

TEST(NodeLifecycle, ServiceNameCanBeRemapped) {
  const int domain = e2e::TestDomain(6);
  TempDir dir;
  NodeProcess node(domain, dir.path(), {"--ros-args", "-r", "robot_status_query:=/robot/status"});
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  EXPECT_EQ(Cli(domain, {"--service", "/robot/status", "call", "5"}).exit_status, 1);
  EXPECT_EQ(Cli(domain, {"--timeout", "1", "call", "5"}).exit_status, 3);
}

TEST(NodeLifecycle, UnknownRosArgumentIsRefusedByName) {
  const int domain = e2e::TestDomain(7);
  TempDir dir;
  NodeProcess node(domain, dir.path(), {"--ros-args", "--no-such-flag"});
  EXPECT_FALSE(node.WaitReady());
  EXPECT_NE(node.Stop(SIGKILL), 0);
  EXPECT_NE(node.Stderr().find("found unknown ROS arguments: '--no-such-flag'"), std::string::npos)
      << node.Stderr();
}

}  // namespace
