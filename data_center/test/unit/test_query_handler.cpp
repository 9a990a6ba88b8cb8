// SPDX-License-Identifier: Apache-2.0
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "proto/data_center.pb.h"
#include "query_handler.hpp"
#include "test_support.hpp"

namespace data_center {
namespace {

using test::Answer;
using test::Send;
using testing::ElementsAre;
using testing::StartsWith;

// Each test runs in a fresh working folder, logging into memory.
class QueryHandlerTest : public testing::Test {
 protected:
  std::string Folder() const { return dir_.path(); }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto & entry : boost::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  test::TempDir dir_;
  test::ScopedCwd cwd_{dir_.path()};
  test::CapturedLog log_;
};

// The first `count` of two known poses, encoded.
std::string Poses(int count) {
  BaseStationInfo info;
  if (count > 0) {
    BsPose * first = info.add_bs_pose();
    first->set_map_id(3);
    first->set_x(1.5);
    first->set_y(-2.0);
    first->set_map_id_str("m3");
  }
  if (count > 1) {
    BsPose * second = info.add_bs_pose();
    second->set_map_id(7);
    second->set_x(-0.25);
    second->set_map_id_str("hall");
  }
  return info.SerializeAsString();
}

std::string TwoPoses() {
  return Poses(2);
}

// ---- dispatcher -------------------------------------------------------------

// The command table holds handlers bound to the object that built it; a copy
// would call into the original after it is gone.
static_assert(!std::is_copy_constructible_v<QueryHandler> && !std::is_copy_assignable_v<QueryHandler>,
              "QueryHandler must not be copyable");
static_assert(!std::is_move_constructible_v<QueryHandler> && !std::is_move_assignable_v<QueryHandler>,
              "QueryHandler must not be movable");

TEST_F(QueryHandlerTest, UnknownCommandsAreNotSupported) {
  QueryHandler handler(dir_ / "history.map");
  for (const int32_t cmd : {0, -7, 10000, 1001, std::numeric_limits<int32_t>::min()}) {
    const Answer answer = Send(handler, cmd, "payload");
    EXPECT_FALSE(answer.result);
    EXPECT_EQ(answer.code, 10002);
    EXPECT_EQ(answer.msg, "");
    EXPECT_EQ(answer.payload, "");
  }
  EXPECT_THAT(log_.Records(),
              ElementsAre("error|HandleQuery|current query cmd id:(0) is not support",
                          "error|HandleQuery|current query cmd id:(-7) is not support",
                          "error|HandleQuery|current query cmd id:(10000) is not support",
                          "error|HandleQuery|current query cmd id:(1001) is not support",
                          "error|HandleQuery|current query cmd id:(-2147483648) is not support"));
  EXPECT_THAT(log_.Lines()[0], testing::HasSubstr("|./src/query_handler.cpp:"));
}

class ThrowingHandler : public QueryHandler {
 public:
  explicit ThrowingHandler(const std::string & history) : QueryHandler(history) {
    handlers_[1] = [](const std::shared_ptr<Request>, std::shared_ptr<Response> response) -> bool {
      response->biz_data = {1, 2, 3};  // half an answer
      throw std::bad_alloc();
    };
    handlers_[2] = [](const std::shared_ptr<Request>, std::shared_ptr<Response>) -> bool { throw 42; };
  }
};

TEST_F(QueryHandlerTest, AThrowingHandlerCostsOneRequest) {
  ThrowingHandler handler(dir_ / "history.map");
  for (const int32_t cmd : {1, 2}) {
    const Answer answer = Send(handler, cmd);
    EXPECT_FALSE(answer.result);
    EXPECT_EQ(answer.code, 10008);
    EXPECT_EQ(answer.msg, "Handle query failed");
    EXPECT_EQ(answer.payload, "");
  }
  EXPECT_EQ(Send(handler, 10003).code, 0);
  EXPECT_THAT(log_.Records(),
              ElementsAre("error|HandleQuery|Handle query cmd id:(1) failed: std::bad_alloc",
                          "error|HandleQuery|Handle query cmd id:(2) failed: unknown exception"));
}

// ---- robot info -------------------------------------------------------------

TEST_F(QueryHandlerTest, RobotInfoIsTheFixedStatistics) {
  QueryHandler handler(dir_ / "history.map");
  for (const std::string & payload : {std::string(), std::string("\x0A\x00", 2)}) {
    const Answer answer = Send(handler, 10003, payload);
    EXPECT_TRUE(answer.result);
    EXPECT_EQ(answer.code, 0);
    EXPECT_EQ(answer.msg, "");
    EXPECT_EQ(answer.payload, "\x0A\x09\x08\xB8\x17\x10\x28\x18\x80\xF1\x04");
  }
  EXPECT_TRUE(log_.Lines().empty());
}

// ---- base stations ----------------------------------------------------------

TEST_F(QueryHandlerTest, StationListRoundTripsAndSurvivesARestart) {
  {
    QueryHandler handler(dir_ / "history.map");
    EXPECT_EQ(Send(handler, 10002).payload, "");
    const Answer issued = Send(handler, 10001, TwoPoses());
    EXPECT_TRUE(issued.result);
    EXPECT_EQ(issued.code, 0);
    EXPECT_EQ(issued.msg, "");
    EXPECT_EQ(issued.payload, "");
    EXPECT_EQ(Send(handler, 10002).payload, TwoPoses());
  }
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), TwoPoses());
  EXPECT_THAT(FolderNames(), ElementsAre("StationInfo.conf")) << "no temporary file is left";

  QueryHandler restarted(dir_ / "history.map");
  BaseStationInfo answered;
  ASSERT_TRUE(answered.ParseFromString(Send(restarted, 10002).payload));
  ASSERT_EQ(answered.bs_pose_size(), 2);
  EXPECT_EQ(answered.bs_pose(0).map_id_str(), "m3");
  EXPECT_EQ(answered.bs_pose(1).map_id(), 7);
  EXPECT_EQ(answered.bs_pose(1).x(), -0.25);
  EXPECT_THAT(log_.Records(), testing::Each(StartsWith("debug|")));
}

TEST_F(QueryHandlerTest, RefusedListsChangeNothing) {
  QueryHandler handler(dir_ / "history.map");
  ASSERT_EQ(Send(handler, 10001, TwoPoses()).code, 0);
  const std::string stored = test::ReadFile("StationInfo.conf");

  testing::internal::CaptureStdout();
  const Answer empty = Send(handler, 10001, "");
  const Answer not_utf8 = Send(handler, 10001, "\x0A\x03\x22\x01\xFF");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "parse protobuf data failed\n");
  for (const Answer & answer : {empty, not_utf8}) {
    EXPECT_FALSE(answer.result);
    EXPECT_EQ(answer.code, 10006);
    EXPECT_EQ(answer.msg, "Deserialize data failed");
  }
  EXPECT_EQ(Send(handler, 10002).payload, TwoPoses());
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), stored);
  EXPECT_THAT(log_.Records(),
              testing::Contains("error|ParseBaseStaionInfo|Parse request biz_data failed").Times(1));
  EXPECT_THAT(log_.Records(), testing::Contains("error|IssueBaseStation|Deserialize data failed").Times(2));
}

TEST_F(QueryHandlerTest, FieldsOutsideTheSchemaAreKept) {
  const std::string unknown_only("\x28\x07", 2);  // field 5, varint 7
  QueryHandler handler(dir_ / "history.map");
  EXPECT_EQ(Send(handler, 10001, unknown_only).code, 0);
  EXPECT_EQ(Send(handler, 10002).payload, unknown_only);
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), unknown_only);
}

TEST_F(QueryHandlerTest, StartupReadsTheStationFile) {
  test::WriteFile("StationInfo.conf", "");
  EXPECT_EQ(Send(*std::make_unique<QueryHandler>(dir_ / "history.map"), 10002).payload, "");
  EXPECT_EQ(log_.Lines().size(), 1u) << "an empty file is an empty list, silently";

  // Cut off in the middle of the second pose: no half list.
  const std::string cut = TwoPoses().substr(0, TwoPoses().size() - 3);
  test::WriteFile("StationInfo.conf", cut);
  QueryHandler handler(dir_ / "history.map");
  EXPECT_EQ(Send(handler, 10002).payload, "");
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), cut);
  EXPECT_THAT(log_.Records(),
              ElementsAre("debug|QueryBaseStation|Into QueryBaseStation",
                          StartsWith("error|LoadStationInfo|Load station info from StationInfo.conf failed"),
                          "debug|QueryBaseStation|Into QueryBaseStation"));
}

// A file that could not be read may still be the robot's list: the first
// save keeps it under a new name, later saves replace as usual.
TEST_F(QueryHandlerTest, AStationFileThatCouldNotBeReadIsMovedAsideByTheFirstSave) {
  const std::string cut = TwoPoses().substr(0, TwoPoses().size() - 3);
  test::WriteFile("StationInfo.conf", cut);
  { QueryHandler first_start(dir_ / "history.map"); }
  QueryHandler handler(dir_ / "history.map");
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), cut) << "a start alone changes nothing";
  EXPECT_THAT(FolderNames(), ElementsAre("StationInfo.conf"));

  ASSERT_EQ(Send(handler, 10001, Poses(1)).code, 0);
  ASSERT_EQ(Send(handler, 10001, TwoPoses()).code, 0);
  auto names = FolderNames();
  std::sort(names.begin(), names.end());
  ASSERT_THAT(names,
              ElementsAre("StationInfo.conf",
                          testing::MatchesRegex("StationInfo\\.conf\\.unreadable-[0-9]{8}T[0-9]{6}Z")));
  EXPECT_EQ(test::ReadFile(names[1]), cut);
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), TwoPoses());
  EXPECT_EQ(Send(handler, 10002).payload, TwoPoses());
  const auto records = log_.Records();
  EXPECT_THAT(records, testing::Contains(StartsWith("error|LoadStationInfo|")).Times(2));
  EXPECT_THAT(records, testing::Contains("error|IssueBaseStation|Station file StationInfo.conf could not be "
                                         "read at start, moved it to " +
                                         names[1])
                           .Times(1));
}

// A list of `size` encoded bytes: one pose whose map name fills it.
std::string ListOfSize(std::size_t size) {
  for (std::size_t name = size; name > 0; --name) {
    BaseStationInfo info;
    info.add_bs_pose()->set_map_id_str(std::string(name, 'm'));
    if (info.ByteSizeLong() == size) {
      return info.SerializeAsString();
    }
  }
  return "";
}

TEST_F(QueryHandlerTest, ListsAboveTheLimitAreRefusedBeforeTheyAreDecoded) {
  constexpr std::size_t kLimit = 65536;
  static_assert(kMaxStationListBytes == kLimit, "the limit callers are told");
  const std::string largest = ListOfSize(kLimit);
  ASSERT_EQ(largest.size(), kLimit);
  // Eight bytes a pose that encode in thirteen: map_id -1 in five bytes
  // instead of ten.
  std::string grows;
  for (std::size_t i = 0; i < kLimit / 8; ++i) {
    grows += std::string("\x0A\x06\x08\xFF\xFF\xFF\xFF\x0F", 8);
  }
  BaseStationInfo decoded;
  ASSERT_TRUE(decoded.ParseFromString(grows));
  ASSERT_EQ(decoded.bs_pose(0).map_id(), -1);

  QueryHandler handler(dir_ / "history.map");
  ASSERT_EQ(Send(handler, 10001, largest).code, 0);
  EXPECT_EQ(Send(handler, 10002).payload, largest);
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), largest);

  struct Case {
    std::string name;
    std::string payload;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"one byte over", ListOfSize(kLimit + 1),
       "error|ParseBaseStaionInfo|Station list of 65537 bytes refused: the limit is 65536 bytes"},
      {"not even a list", std::string(kLimit + 1, '\xFF'),
       "error|ParseBaseStaionInfo|Station list of 65537 bytes refused: the limit is 65536 bytes"},
      {"over once encoded", grows,
       "error|ParseBaseStaionInfo|Station list of 65536 bytes refused: it encodes to 106496 bytes, the limit "
       "is 65536 bytes"},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    test::CapturedLog log;
    // A decode that fails prints "parse protobuf data failed": "not even a
    // list" would, were it decoded before its size was checked.
    testing::internal::CaptureStdout();
    const Answer answer = Send(handler, 10001, c.payload);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the payload was decoded before it was refused";
    EXPECT_FALSE(answer.result);
    EXPECT_EQ(answer.code, 10006);
    EXPECT_EQ(answer.msg, "Deserialize data failed");
    EXPECT_THAT(log.Records(), ElementsAre("debug|IssueBaseStation|Into IssueBaseStation", c.why,
                                           "error|IssueBaseStation|Deserialize data failed"));
    EXPECT_EQ(test::ReadFile("StationInfo.conf"), largest);
  }
  EXPECT_EQ(Send(handler, 10002).payload, largest);
}

TEST_F(QueryHandlerTest, StartupRemovesTemporaryFilesOfSavesThatDiedOnly) {
  const pid_t dead = fork();
  if (dead == 0) {
    _exit(0);
  }
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string of_dead = "StationInfo.conf.tmp." + std::to_string(dead);
  const std::string of_live = "StationInfo.conf.tmp." + std::to_string(getppid());
  const std::string of_ours = "StationInfo.conf.tmp." + std::to_string(getpid());
  for (const auto & name :
       {of_dead, of_live, of_ours, std::string("StationInfo.conf.tmp.x1"), std::string("Other.conf.tmp.1")}) {
    test::WriteFile(name, "partial");
  }
  QueryHandler handler(dir_ / "history.map");
  auto names = FolderNames();
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = {of_live, of_ours, "StationInfo.conf.tmp.x1", "Other.conf.tmp.1"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(log_.Lines().empty());
}

// Root ignores permission bits, so the failures here are made otherwise.
TEST_F(QueryHandlerTest, UnsavedListIsRefusedAndTheOldOneKept) {
  QueryHandler handler(dir_ / "history.map");
  const std::string old_list = Poses(1);
  ASSERT_EQ(Send(handler, 10001, old_list).code, 0);

  // A full disk: the file size limit stops the write midway.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit tiny = saved;
  tiny.rlim_cur = 8;
  const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
  const Answer answer = Send(handler, 10001, TwoPoses());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, saved_signal);

  EXPECT_FALSE(answer.result);
  EXPECT_EQ(answer.code, 10007);
  EXPECT_EQ(answer.msg, "Save station info failed");
  EXPECT_EQ(Send(handler, 10002).payload, old_list);
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), old_list);
  EXPECT_THAT(FolderNames(), ElementsAre("StationInfo.conf"));
  EXPECT_THAT(
      log_.Records(),
      testing::Contains("error|IssueBaseStation|Save station info failed: write StationInfo.conf.tmp." +
                        std::to_string(::getpid()) + ": File too large"));
}

TEST_F(QueryHandlerTest, StationFileThatIsAFolderIsNeverReplaced) {
  boost::filesystem::create_directories(dir_ / "StationInfo.conf/inside");
  QueryHandler handler(dir_ / "history.map");
  const Answer answer = Send(handler, 10001, TwoPoses());
  EXPECT_EQ(answer.code, 10007);
  EXPECT_EQ(Send(handler, 10002).payload, "");
  EXPECT_TRUE(boost::filesystem::is_directory(dir_ / "StationInfo.conf/inside"));
  EXPECT_THAT(FolderNames(), ElementsAre("StationInfo.conf"));
  const auto records = log_.Records();
  ASSERT_EQ(records.size(), 4u) << testing::PrintToString(records);
  EXPECT_THAT(records[0],
              StartsWith("error|LoadStationInfo|Load station info from StationInfo.conf failed: "));
  EXPECT_THAT(records[2], StartsWith("error|IssueBaseStation|Save station info failed: rename "));
}

// ---- last map -----------------------------------------------------------------

struct HistoryCase {
  std::string content;
  std::string stdout_line;
  std::string payload;
  std::vector<std::string> log;
};

TEST_F(QueryHandlerTest, LastMapIsTheFirstTokenOfTheHistoryFile) {
  const std::vector<HistoryCase> cases = {
      {"  map_17\nother text\n", "mapID = map_17\n", "\x12\x06map_17", {}},
      {"42",
       "mapID = 42\n",
       "\x12\x02"
       "42",
       {}},
      {"\xFF\xFE tail", "mapID = \xFF\xFE\n", "\x12\x02\xFF\xFE", {}},
      {" \n\t \n", "mapID = \n", "", {"error|QueryLastMap|map history file empty"}},
  };
  QueryHandler handler(dir_ / "history.map");
  for (const HistoryCase & c : cases) {
    test::CapturedLog log;
    test::WriteFile(dir_ / "history.map", c.content);
    testing::internal::CaptureStdout();
    const Answer answer = Send(handler, 1002, "ignored payload");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.stdout_line);
    EXPECT_TRUE(answer.result);
    EXPECT_EQ(answer.code, 0);
    EXPECT_EQ(answer.msg, "");
    EXPECT_EQ(answer.payload, c.payload);
    EXPECT_EQ(log.Records(), c.log);
  }
}

TEST_F(QueryHandlerTest, UnreachableHistoryFileAnswersAnEmptyMap) {
  test::WriteFile(dir_ / "plain_file", "x");
  boost::filesystem::create_directory(dir_ / "folder");
  boost::filesystem::create_symlink(dir_ / "loop_b", dir_ / "loop_a");
  boost::filesystem::create_symlink(dir_ / "loop_a", dir_ / "loop_b");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir_ / "missing.map", "error|QueryLastMap|map history file is not exist"},
      {dir_ / "plain_file/history.map", "error|QueryLastMap|map history file is not exist"},
      {dir_ / "loop_a/history.map",
       "error|QueryLastMap|map history file is not exist: Too many levels of symbolic links"},
      {dir_ / "folder", "error|QueryLastMap|map history file empty"},
  };
  for (const auto & c : cases) {
    test::CapturedLog log;
    QueryHandler handler(c.first);
    testing::internal::CaptureStdout();
    const Answer answer = Send(handler, 1002);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "mapID = \n");
    EXPECT_TRUE(answer.result) << c.first;
    EXPECT_EQ(answer.code, 0);
    EXPECT_EQ(answer.payload, "");
    EXPECT_THAT(log.Records(), ElementsAre(c.second));
  }
}

}  // namespace
}  // namespace data_center
