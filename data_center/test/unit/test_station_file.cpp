// SPDX-License-Identifier: Apache-2.0
// The station file's save and load where links and in-place rewrites are
// involved; the plain cases run through QueryHandler in query_handler_test.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "proto/data_center.pb.h"
#include "station_file.hpp"
#include "test_support.hpp"

namespace data_center {
namespace {

namespace fs = boost::filesystem;
using testing::HasSubstr;

BaseStationInfo Poses(int count) {
  BaseStationInfo info;
  for (int i = 0; i < count; ++i) {
    BsPose * pose = info.add_bs_pose();
    pose->set_map_id(i + 1);
    pose->set_x(0.5 * i);
    pose->set_map_id_str("map " + std::to_string(i));
  }
  return info;
}

std::vector<std::string> Names(const std::string & folder) {
  std::vector<std::string> names;
  for (const auto & entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class StationFileTest : public testing::Test {
 protected:
  test::TempDir dir_;
  test::ScopedCwd cwd_{dir_.path()};
};

TEST_F(StationFileTest, SymbolicLinksStayAndTheirTargetGetsTheList) {
  fs::create_directories(dir_ / "persist/deeper");
  struct Case {
    std::string name;
    std::string target;  // what finally holds the list, relative to the folder
    std::vector<std::pair<std::string, std::string>> links;  // link, what it points at
  };
  const std::vector<Case> cases = {
      // The second link is relative to the folder of the first one's target.
      {"a chain", "persist/deeper/end", {{"StationInfo.conf", "persist/hop"}, {"persist/hop", "deeper/end"}}},
      {"dangling", "persist/new", {{"StationInfo.conf", "persist/new"}}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove("StationInfo.conf");
    for (const auto & link : c.links) {
      fs::create_symlink(link.second, link.first);
    }
    if (c.name != "dangling") {
      test::WriteFile(c.target, Poses(1).SerializeAsString());
    }
    const SaveResult saved = SaveStationFile("StationInfo.conf", Poses(2));
    EXPECT_EQ(saved.status, SaveStatus::kSaved) << saved.error;
    EXPECT_EQ(saved.in_place, "");
    for (const auto & link : c.links) {
      EXPECT_TRUE(fs::is_symlink(link.first)) << link.first;
    }
    EXPECT_EQ(test::ReadFile(c.target), Poses(2).SerializeAsString());
    BaseStationInfo loaded;
    std::string error;
    EXPECT_EQ(LoadStationFile("StationInfo.conf", loaded, error), StationFileStatus::kLoaded) << error;
    EXPECT_EQ(loaded.SerializeAsString(), Poses(2).SerializeAsString());
    for (const auto & link : c.links) {
      fs::remove(link.first);
    }
  }
  EXPECT_THAT(Names(dir_.path()), testing::ElementsAre("persist"));
  EXPECT_THAT(Names(dir_ / "persist"), testing::ElementsAre("deeper", "new"));
  EXPECT_THAT(Names(dir_ / "persist/deeper"), testing::ElementsAre("end"));
}

// What a link points at is replaced only when it is a regular file: a link
// to a device (a FIFO here, which is safe to make) is replaced itself.
TEST_F(StationFileTest, ALinkToSomethingElseThanAFileIsReplacedItselfNotItsTarget) {
  fs::create_directories(dir_ / "persist");
  ASSERT_EQ(::mkfifo((dir_ / "persist/fifo").c_str(), 0600), 0);
  fs::create_symlink("persist/fifo", "StationInfo.conf");
  const SaveResult saved = SaveStationFile("StationInfo.conf", Poses(1));
  EXPECT_EQ(saved.status, SaveStatus::kSaved) << saved.error;
  struct stat fifo;
  ASSERT_EQ(::lstat((dir_ / "persist/fifo").c_str(), &fifo), 0);
  EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
  EXPECT_THAT(Names(dir_ / "persist"), testing::ElementsAre("fifo"));
  EXPECT_FALSE(fs::is_symlink("StationInfo.conf"));
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), Poses(1).SerializeAsString());
}

TEST_F(StationFileTest, ALinkLoopIsRefusedAndNothingIsWritten) {
  fs::create_symlink("other", "StationInfo.conf");
  fs::create_symlink("StationInfo.conf", "other");
  const SaveResult saved = SaveStationFile("StationInfo.conf", Poses(1));
  EXPECT_EQ(saved.status, SaveStatus::kFailed);
  EXPECT_THAT(saved.error, HasSubstr("Too many levels of symbolic links"));
  EXPECT_THAT(Names(dir_.path()), testing::ElementsAre("StationInfo.conf", "other"));
}

TEST_F(StationFileTest, EveryHardLinkSeesTheNewList) {
  test::WriteFile("StationInfo.conf", Poses(1).SerializeAsString());
  fs::create_hard_link("StationInfo.conf", "backup_name");
  struct stat before;
  ASSERT_EQ(::stat("StationInfo.conf", &before), 0);

  const SaveResult saved = SaveStationFile("StationInfo.conf", Poses(3));
  EXPECT_EQ(saved.status, SaveStatus::kSaved) << saved.error;
  EXPECT_EQ(saved.in_place, "StationInfo.conf has 2 hard links");
  struct stat after;
  ASSERT_EQ(::stat("StationInfo.conf", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), Poses(3).SerializeAsString());
  EXPECT_EQ(test::ReadFile("backup_name"), Poses(3).SerializeAsString());

  // A shorter list leaves no tail of the longer one behind.
  ASSERT_EQ(SaveStationFile("StationInfo.conf", Poses(1)).status, SaveStatus::kSaved);
  EXPECT_EQ(test::ReadFile("backup_name"), Poses(1).SerializeAsString());
  EXPECT_THAT(Names(dir_.path()), testing::ElementsAre("StationInfo.conf", "backup_name"));
}

// Root ignores permission bits, so the failure is a full disk: the file size
// limit stops the write midway, after the truncation.
TEST_F(StationFileTest, AFailedInPlaceRewriteWritesTheOldContentBack) {
  const std::string old_list = Poses(1).SerializeAsString();
  test::WriteFile("StationInfo.conf", old_list);
  fs::create_hard_link("StationInfo.conf", "backup_name");

  rlimit saved_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
  rlimit limit = saved_limit;
  limit.rlim_cur = old_list.size();
  const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const SaveResult saved = SaveStationFile("StationInfo.conf", Poses(3));
  ::setrlimit(RLIMIT_FSIZE, &saved_limit);
  std::signal(SIGXFSZ, saved_signal);

  EXPECT_EQ(saved.status, SaveStatus::kFailed);
  EXPECT_THAT(saved.error, HasSubstr("write StationInfo.conf: File too large"));
  EXPECT_THAT(saved.error, HasSubstr("the old content was written back"));
  EXPECT_EQ(test::ReadFile("StationInfo.conf"), old_list);
  EXPECT_EQ(test::ReadFile("backup_name"), old_list);
}

// Runs `save` with the file size limit at `bytes`, as a full disk would stop
// a write (root ignores permission bits, so that is how a save fails here).
SaveResult WithFileSizeLimit(rlim_t bytes, const std::function<SaveResult()> & save) {
  rlimit saved_limit{};
  ::getrlimit(RLIMIT_FSIZE, &saved_limit);
  rlimit limit = saved_limit;
  limit.rlim_cur = bytes;
  const auto saved_signal = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  const SaveResult result = save();
  ::setrlimit(RLIMIT_FSIZE, &saved_limit);
  std::signal(SIGXFSZ, saved_signal);
  return result;
}

TEST_F(StationFileTest, KeepingTheOldFileKeepsOnlyARegularFileAndNeverOverAnother) {
  const std::time_t now = 1796757300;  // 2026-12-08 19:15:00 UTC
  const std::string aside = "StationInfo.conf.unreadable-20261208T191500Z";
  const std::string list = Poses(1).SerializeAsString();
  struct Case {
    std::string name;
    std::function<void()> make;  // besides "StationInfo.conf" holding "old", unless it says otherwise
    SaveStatus status;
    std::string kept_as;
    std::vector<std::string> names;                         // the folder afterwards
    std::vector<std::pair<std::string, std::string>> kept;  // files and their content afterwards
    bool full_disk = false;
  };
  const std::vector<Case> cases = {
      {"a regular file", [] {}, SaveStatus::kSaved, aside, {"StationInfo.conf", aside}, {}},
      {"its first names taken",
       [&] {
         test::WriteFile(aside, "first");
         test::WriteFile(aside + ".1", "second");
       },
       SaveStatus::kSaved,
       aside + ".2",
       {"StationInfo.conf", aside, aside + ".1", aside + ".2"},
       {{aside, "first"}, {aside + ".1", "second"}}},
      // A crash after the second name was made: the file gets a third.
      {"a name kept before",
       [&] { fs::create_hard_link("StationInfo.conf", aside); },
       SaveStatus::kSaved,
       aside + ".1",
       {"StationInfo.conf", aside, aside + ".1"},
       {{aside, "old"}}},
      {"a link: its target is kept, beside itself",
       [] {
         fs::create_directory("persist");
         fs::rename("StationInfo.conf", "persist/st");
         fs::create_symlink("persist/st", "StationInfo.conf");
       },
       SaveStatus::kSaved,
       "persist/st.unreadable-20261208T191500Z",
       {"StationInfo.conf", "persist"},
       {{"persist/st", list}}},
      {"one of two hard links",
       [] { fs::create_hard_link("StationInfo.conf", "backup_name"); },
       SaveStatus::kSaved,
       aside,
       {"StationInfo.conf", aside, "backup_name"},
       {{"backup_name", "old"}}},
      {"a full disk",
       [] {},
       SaveStatus::kFailed,
       "",
       {"StationInfo.conf"},
       {{"StationInfo.conf", "old"}},
       true},
      {"missing", [] { fs::remove("StationInfo.conf"); }, SaveStatus::kSaved, "", {"StationInfo.conf"}, {}},
      {"a folder",
       [] {
         fs::remove("StationInfo.conf");
         fs::create_directories("StationInfo.conf/inside");
       },
       SaveStatus::kFailed,
       "",
       {"StationInfo.conf"},
       {}},
      {"a link loop",
       [] {
         fs::remove("StationInfo.conf");
         fs::create_symlink("other", "StationInfo.conf");
         fs::create_symlink("StationInfo.conf", "other");
       },
       SaveStatus::kFailed,
       "",
       {"StationInfo.conf", "other"},
       {}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string & name : Names(dir_.path())) {
      fs::remove_all(dir_ / name);
    }
    test::WriteFile("StationInfo.conf", "old");
    c.make();
    const SaveResult result = WithFileSizeLimit(c.full_disk ? 1 : RLIM_INFINITY, [&] {
      return SaveStationFileKeepingOld("StationInfo.conf", Poses(1), now);
    });
    EXPECT_EQ(result.status, c.status) << result.error;
    EXPECT_EQ(result.kept_as, c.kept_as);
    EXPECT_EQ(result.in_place, "");
    EXPECT_EQ(Names(dir_.path()), c.names);
    if (c.status == SaveStatus::kSaved) {
      EXPECT_EQ(test::ReadFile("StationInfo.conf"), list);
    }
    if (!c.kept_as.empty()) {
      EXPECT_EQ(test::ReadFile(c.kept_as), "old");
    }
    for (const auto & file : c.kept) {
      EXPECT_EQ(test::ReadFile(file.first), file.second) << file.first;
    }
  }
}

// Where a start looks for the list when the station file is missing.
TEST_F(StationFileTest, KeptFilesAreFoundBesideTheLinkTargetOldestFirst) {
  fs::create_directory("persist");
  fs::create_symlink("persist/st", "StationInfo.conf");
  for (const char * name :
       {"persist/st.unreadable-20261208T191500Z.1", "persist/st.unreadable-20261209T000000Z",
        "persist/st.unreadable-20261208T191500Z", "persist/other.unreadable-20261210T000000Z",
        "StationInfo.conf.unreadable-20261210T000000Z", "persist/st.tmp.1"}) {
    test::WriteFile(name, "old");
  }
  EXPECT_THAT(FilesKeptBeside("StationInfo.conf"),
              testing::ElementsAre("persist/st.unreadable-20261208T191500Z",
                                   "persist/st.unreadable-20261208T191500Z.1",
                                   "persist/st.unreadable-20261209T000000Z"));
}

TEST_F(StationFileTest, StaleTemporaryFilesAreFoundBesideTheLinkTarget) {
  fs::create_directory("persist");
  fs::create_symlink("persist/st", "StationInfo.conf");
  // A child that has exited and been reaped leaves a pid no process has.
  const pid_t dead = ::fork();
  if (dead == 0) {
    ::_exit(0);
  }
  ASSERT_GT(dead, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(dead, &status, 0), dead);
  test::WriteFile("persist/st.tmp." + std::to_string(dead), "half a list");
  test::WriteFile("persist/st.tmp." + std::to_string(::getpid()), "ours");

  EXPECT_EQ(RemoveStaleTemporaryFiles("StationInfo.conf"), 1);
  EXPECT_THAT(Names(dir_ / "persist"), testing::ElementsAre("st.tmp." + std::to_string(::getpid())));
}

}  // namespace
}  // namespace data_center
