// SPDX-License-Identifier: Apache-2.0
// The four commands through the real node and client binaries over DDS.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"

namespace {

using e2e::Cli;
using e2e::NodeProcess;
using e2e::TempDir;
using e2e::TwoPoses;

// Each test has its own ROS_DOMAIN_ID: e2e::TestDomain(0-9).

TEST(Commands, RobotInfoAnswersTheSameElevenBytesWhateverThePayload) {
  const int domain = e2e::TestDomain(0);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  for (const std::vector<std::string> & args :
       {std::vector<std::string>{"call", "10003"},
        std::vector<std::string>{"call", "10003", "0A 03 22 01 FF"}}) {
    const auto r = Cli(domain, args);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 0");
    EXPECT_EQ(e2e::PayloadHex(r), "0A 09 08 B8 17 10 28 18 80 F1 04") << r.out;
  }
  const auto decoded = Cli(domain, {"robot-info"});
  EXPECT_EQ(decoded.exit_status, 0);
  EXPECT_NE(decoded.out.find("work_hours: 3000"), std::string::npos) << decoded.out;
}

TEST(Commands, StationListRoundTripsInOrderAndSurvivesARestart) {
  const int domain = e2e::TestDomain(1);
  TempDir dir;
  const std::string list = TwoPoses();
  {
    NodeProcess node(domain, dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stderr();
    const auto empty = Cli(domain, {"call", "10002"});
    EXPECT_EQ(empty.exit_status, 0);
    EXPECT_EQ(e2e::PayloadHex(empty), "");

    const auto set = Cli(domain, {"call", "10001", e2e::Hex(list)});
    EXPECT_EQ(set.exit_status, 0) << set.out << set.err;
    EXPECT_EQ(e2e::Lines(set.out).at(1), "msg: \"\"");
    EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), e2e::Hex(list));
    EXPECT_EQ(e2e::ReadFile(node.StationFile()), list);  // one encoded list, nothing around it
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
  NodeProcess restarted(domain, dir.path());
  ASSERT_TRUE(restarted.WaitReady()) << restarted.Stderr();
  const auto after = Cli(domain, {"stations"});
  EXPECT_EQ(after.exit_status, 0);
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), e2e::Hex(list));
  EXPECT_NE(after.out.find("map_id_str: \"second map\""), std::string::npos) << after.out;
}

TEST(Commands, RefusedListsLeaveTheStoredListAlone) {
  const int domain = e2e::TestDomain(2);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const std::string list = TwoPoses();
  ASSERT_EQ(Cli(domain, {"call", "10001", e2e::Hex(list)}).exit_status, 0);

  // Empty payload (an empty list encodes to nothing), a map_id_str that is
  // not UTF-8, and a truncated field.
  for (const std::string & payload : {std::string(""), std::string("0A 03 22 01 FF"), std::string("0A")}) {
    std::vector<std::string> args = {"call", "10001"};
    if (!payload.empty()) {
      args.push_back(payload);
    }
    const auto r = Cli(domain, args);
    EXPECT_EQ(r.exit_status, 1) << payload;
    EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 10006") << payload;
    EXPECT_EQ(e2e::Lines(r.out).at(1), "msg: \"Deserialize data failed\"") << payload;
  }
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), e2e::Hex(list));
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), list);
}

TEST(Commands, FieldsOutsideTheSchemaAreKeptAndAnsweredBack) {
  const int domain = e2e::TestDomain(3);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  // Field 5 (varint 7): no such field in BaseStationInfo, so the list is empty.
  ASSERT_EQ(Cli(domain, {"call", "10001", "28 07"}).exit_status, 0);
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), "28 07");
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), std::string("\x28\x07", 2));
}

TEST(Commands, ANegativeZeroCoordinateIsStoredAndAnsweredAsPositiveZero) {
  const int domain = e2e::TestDomain(7);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  // bs_pose { x: -0.0 }, as protobuf 3.21 writes it; 3.12 writes 0A 00.
  ASSERT_EQ(Cli(domain, {"call", "10001", "0A 09 11 00 00 00 00 00 00 00 80"}).exit_status, 0);
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), "0A 00");
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), std::string("\x0A\x00", 2));
}

TEST(Commands, LastMapReadsTheHistoryFileAnewOnEveryCall) {
  const int domain = e2e::TestDomain(4);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  auto ask = [&]() { return Cli(domain, {"call", "1002", "01 02 03"}); };
  // Missing file: code 0, nothing to answer.
  auto r = ask();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(e2e::PayloadHex(r), "");

  ASSERT_EQ(system(("mkdir -p '" + dir.path() + "/korvane/data/resource/map'").c_str()), 0);
  struct Case {
    std::string content;
    std::string payload;
  } cases[] = {
      {"  map_17\nsecond line\n", "12 06 6D 61 70 5F 31 37"},  // leading blanks skipped, one token
      {"42", "12 02 34 32"},                                   // a number stays a string
      {"\xff\xfe rest", "12 02 FF FE"},                        // not UTF-8: answered as read
      {" \n\t \n", ""},                                        // only whitespace
  };
  for (const auto & c : cases) {
    e2e::WriteFile(node.HistoryFile(), c.content);
    r = ask();
    EXPECT_EQ(r.exit_status, 0) << c.content;
    EXPECT_EQ(e2e::PayloadHex(r), c.payload) << c.content;
  }
  const auto out = e2e::Lines(node.Stdout());
  const std::vector<std::string> expected = {"after advertiseService robot_status_query",
                                             "mapID = ",
                                             "mapID = map_17",
                                             "mapID = 42",
                                             "mapID = \xff\xfe",
                                             "mapID = "};
  EXPECT_EQ(out, expected);
  const std::string log = node.Log();
  EXPECT_NE(log.find("] map history file is not exist\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] map history file empty\n"), std::string::npos) << log;
}

TEST(Commands, ReadOnlyWorkingFolderAnswers10007AndKeepsTheOldList) {
  const int domain = e2e::TestDomain(5);
  TempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/work").c_str(), 0755), 0);
  const std::string list = TwoPoses();
  e2e::WriteFile(dir.path() + "/work/StationInfo.conf", list);
  NodeProcess node(domain, dir.path(), {}, /*read_only_workdir=*/true);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), e2e::Hex(list));

  const auto r = Cli(domain, {"call", "10001", "0A 02 08 09"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 10007");
  EXPECT_EQ(e2e::Lines(r.out).at(1), "msg: \"Save station info failed\"");
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), e2e::Hex(list));
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), list);
  EXPECT_EQ(e2e::ListFiles(node.WorkDir()), std::vector<std::string>{"StationInfo.conf"});
  const std::string log = node.Log();
  EXPECT_NE(log.find("] Save station info failed"), std::string::npos) << log;
}

TEST(Commands, CorruptStationFileStartsEmptyWithOneErrorLineAndIsLeftAlone) {
  const int domain = e2e::TestDomain(6);
  TempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/work").c_str(), 0755), 0);
  const std::string garbage = "\x0A\x7F garbage";
  e2e::WriteFile(dir.path() + "/work/StationInfo.conf", garbage);
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  EXPECT_EQ(e2e::PayloadHex(Cli(domain, {"call", "10002"})), "");
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), garbage);
  const auto log = e2e::Lines(node.Log());
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("[error]"), std::string::npos) << log[0];
  EXPECT_NE(log[0].find("StationInfo.conf"), std::string::npos) << log[0];
}

// A one-pose list that encodes to exactly `size` bytes, in protobuf text
// format; `encoded` gets its encoding.
std::string TextListOfSize(std::size_t size, std::string * encoded) {
  for (std::size_t name = size; name > 0; --name) {
    data_center::BaseStationInfo info;
    info.add_bs_pose()->set_map_id_str(std::string(name, 'm'));
    if (info.ByteSizeLong() == size) {
      *encoded = info.SerializeAsString();
      return "bs_pose { map_id_str: \"" + std::string(name, 'm') + "\" }\n";
    }
  }
  return "";
}

// set-stations measures a list as it would send it: one at the node's limit
// is sent and stored; one a byte above is refused by the client, with the
// limit named, before anything is sent: the node never logs it, and with no
// node at all the client does not wait for one.
TEST(Commands, SetStationsSendsAListAtTheLimitAndRefusesOneAbove) {
  const int domain = e2e::TestDomain(8), nobody = e2e::TestDomain(9);
  TempDir dir;
  NodeProcess node(domain, dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  std::string largest, above;
  e2e::WriteFile(dir.path() + "/largest.txt", TextListOfSize(65536, &largest));
  e2e::WriteFile(dir.path() + "/above.txt", TextListOfSize(65537, &above));
  ASSERT_EQ(largest.size(), 65536u);
  ASSERT_EQ(above.size(), 65537u);

  const std::string refused =
      "data_center_cli: '" + dir.path() +
      "/above.txt': station list above 65536 bytes, not sent (it encodes to 65537 bytes)\n";
  const struct {
    const char * what;
    int domain;
    const char * file;
    int exit_status;
    std::string err;
  } cases[] = {
      {"at the limit", domain, "largest.txt", 0, ""},
      {"a byte above", domain, "above.txt", 2, refused},
      // A client that waited for the service would give up after 60 s with exit status 3.
      {"a byte above, no node", nobody, "above.txt", 2, refused},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = Cli(c.domain, {"set-stations", dir.path() + "/" + c.file, "--quiet", "--timeout", "60"});
    EXPECT_EQ(r.exit_status, c.exit_status) << r.out << r.err;
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), largest);
  const std::string log = node.Log();
  EXPECT_EQ(log.find("refused"), std::string::npos) << log;
}

}  // namespace
