// SPDX-License-Identifier: Apache-2.0
// How the node stores the station list in the deployments operators make
// (folders it may not read or write, links, mounted files), and how it reads
// a map history file that is swapped under it.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"

namespace {

using e2e::Cli;
using e2e::NodeProcess;
using e2e::TempDir;

// Each test takes its own domain of this executable's range, e2e::TestDomain(i).

constexpr char kUser[] = "nobody";

std::string List(int map_id) {
  data_center::BaseStationInfo info;
  auto * pose = info.add_bs_pose();
  pose->set_map_id(map_id);
  pose->set_x(1.5);
  pose->set_map_id_str("m" + std::to_string(map_id));
  return info.SerializeAsString();
}

// The answer of `call 10002`, in e2e::Hex's form.
std::string StoredInMemory(int domain) {
  return e2e::HexDump(Cli(domain, {"call", "10002", "--quiet"}).out);
}

std::vector<std::string> ErrorLines(const NodeProcess & node) {
  std::vector<std::string> errors;
  for (const auto & line : e2e::Lines(node.Log())) {
    if (line.find("] [error] ") != std::string::npos) {
      errors.push_back(line);
    }
  }
  return errors;
}

void GiveTo(const std::string & path, const char * user) {
  const passwd * entry = getpwnam(user);
  ASSERT_NE(entry, nullptr) << user;
  ASSERT_EQ(chown(path.c_str(), entry->pw_uid, entry->pw_gid), 0) << path;
}

// The node's folders, prepared before it starts: its log folder writable by
// `user`, its working folder with `mode`, and an old list in the station file.
void Prepare(const std::string & root, const char * user, mode_t work_mode) {
  ASSERT_EQ(system(("mkdir -p '" + root + "/korvane/logs/data_center' '" + root + "/work'").c_str()), 0);
  GiveTo(root + "/korvane/logs/data_center", user);
  e2e::WriteFile(root + "/work/StationInfo.conf", List(1));
  GiveTo(root + "/work/StationInfo.conf", user);
  ASSERT_EQ(chmod((root + "/work").c_str(), work_mode), 0);
}

// Permissions only bind a node that is not root, so these run it as another
// user; only root can start a program as someone else.
#define SKIP_UNLESS_ROOT()                                                  \
  if (geteuid() != 0) {                                                     \
    GTEST_SKIP() << "starts the node as " << kUser << ", which needs root"; \
  }

TEST(StationSaves, AFolderThatCannotBeFlushedAfterTheRenameStillStoresTheList) {
  SKIP_UNLESS_ROOT();
  TempDir dir;
  // Write and search but no read: the rename works, opening the folder to
  // flush it does not.
  ASSERT_NO_FATAL_FAILURE(Prepare(dir.path(), kUser, 0300));
  GiveTo(dir.path() + "/work", kUser);
  e2e::NodeOptions options;
  options.user = kUser;
  NodeProcess node(e2e::TestDomain(0), dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_EQ(StoredInMemory(e2e::TestDomain(0)), e2e::Hex(List(1)));

  const auto r = Cli(e2e::TestDomain(0), {"call", "10001", e2e::Hex(List(2))});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 0");
  EXPECT_EQ(StoredInMemory(e2e::TestDomain(0)), e2e::Hex(List(2)));
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), List(2));
  const auto errors = ErrorLines(node);
  ASSERT_EQ(errors.size(), 1u) << node.Stderr();
  EXPECT_NE(
      errors[0].find("Station info saved, but a power cut may still bring the old list back: open folder "
                     ".: Permission denied"),
      std::string::npos)
      << errors[0];
}

TEST(StationSaves, AFolderTheNodeMayNotWriteGetsTheListInPlace) {
  SKIP_UNLESS_ROOT();
  TempDir dir;
  // The folder is root's; only the file is the node's.
  ASSERT_NO_FATAL_FAILURE(Prepare(dir.path(), kUser, 0755));
  const std::string file = dir.path() + "/work/StationInfo.conf";
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  e2e::NodeOptions options;
  options.user = kUser;
  NodeProcess node(e2e::TestDomain(1), dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  for (int map_id : {2, 3}) {
    const auto r = Cli(e2e::TestDomain(1), {"call", "10001", e2e::Hex(List(map_id))});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(StoredInMemory(e2e::TestDomain(1)), e2e::Hex(List(map_id)));
    EXPECT_EQ(e2e::ReadFile(file), List(map_id));
  }
  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten, not replaced";
  EXPECT_EQ(e2e::ListFiles(node.WorkDir()), std::vector<std::string>{"StationInfo.conf"});
  const auto errors = ErrorLines(node);
  ASSERT_EQ(errors.size(), 1u) << "one line for the run, not one a save";
  EXPECT_NE(errors[0].find("Station info saves are not atomic, the file is rewritten in place: no temporary "
                           "file can be made beside StationInfo.conf (open StationInfo.conf.tmp."),
            std::string::npos)
      << errors[0];
  EXPECT_NE(errors[0].find("Permission denied"), std::string::npos) << errors[0];
}

// A station file the node could not read at start may still be the robot's
// list (left unreadable by a run as root, a read error): the next list keeps
// it beside the new one, and a restart before that reads it again.
TEST(StationSaves, AFileTheNodeCouldNotReadSurvivesTheNextList) {
  SKIP_UNLESS_ROOT();
  const int domain = e2e::TestDomain(5);
  const std::string garbage("this is not an encoded station list\n\xff\xff", 38);
  struct Case {
    std::string name;
    std::string content;
    mode_t mode;
    std::string load_error;
    bool own_folder;  // false: the folder is root's, so the file could only be rewritten in place
    int32_t code;     // what a new list gets
  };
  const std::vector<Case> cases = {
      {"damaged", garbage, 0644, "not an encoded station list", true, 0},
      {"unreadable", List(1), 0000, "open: Permission denied", true, 0},
      {"damaged, in a folder the node may not write", garbage, 0644, "not an encoded station list", false,
       10007},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(Prepare(dir.path(), kUser, 0755));
    const std::string work = dir.path() + "/work";
    const std::string file = work + "/StationInfo.conf";
    e2e::WriteFile(file, c.content);
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    if (c.own_folder) {
      GiveTo(work, kUser);
    }
    e2e::NodeOptions options;
    options.user = kUser;
    const std::string load_failed = "Load station info from StationInfo.conf failed: " + c.load_error;
    for (int start = 1; start <= 2; ++start) {
      NodeProcess node(domain, dir.path(), options);
      ASSERT_TRUE(node.WaitReady()) << node.Stderr();
      EXPECT_EQ(StoredInMemory(domain), "");
      const auto errors = ErrorLines(node);  // the log of both starts
      ASSERT_EQ(errors.size(), static_cast<std::size_t>(start)) << node.Log();
      EXPECT_NE(errors.back().find(load_failed), std::string::npos) << errors.back();
      EXPECT_EQ(e2e::ReadFile(file), c.content);
      EXPECT_EQ(e2e::ListFiles(work), std::vector<std::string>{"StationInfo.conf"});
      if (start == 1) {
        EXPECT_EQ(node.Stop(SIGTERM), 0);
        continue;
      }

      for (int map_id : {2, 3}) {
        const auto r = Cli(domain, {"call", "10001", e2e::Hex(List(map_id))});
        EXPECT_EQ(e2e::Lines(r.out).at(0), "code: " + std::to_string(c.code)) << r.out << r.err;
      }
      const auto files = e2e::ListFiles(work);
      if (c.code != 0) {
        EXPECT_EQ(files, std::vector<std::string>{"StationInfo.conf"});
        EXPECT_EQ(e2e::ReadFile(file), c.content);
        EXPECT_EQ(StoredInMemory(domain), "");
        EXPECT_NE(ErrorLines(node).back().find("cannot be kept: open StationInfo.conf.tmp."),
                  std::string::npos)
            << node.Log();
        continue;
      }
      if (files.size() != 2u) {
        ADD_FAILURE() << "not set aside once, by the first list only: " << testing::PrintToString(files);
        continue;
      }
      EXPECT_EQ(files[0], "StationInfo.conf");
      EXPECT_EQ(files[1].rfind("StationInfo.conf.unreadable-", 0), 0u) << files[1];
      const std::string aside = work + "/" + files[1];
      EXPECT_EQ(e2e::ReadFile(aside), c.content) << "byte for byte";
      struct stat kept;
      ASSERT_EQ(stat(aside.c_str(), &kept), 0);
      EXPECT_EQ(kept.st_mode & 07777, c.mode);
      EXPECT_EQ(e2e::ReadFile(file), List(3));
      EXPECT_EQ(StoredInMemory(domain), e2e::Hex(List(3)));
      const auto errors_after = ErrorLines(node);
      ASSERT_EQ(errors_after.size(), 3u) << node.Log();
      EXPECT_NE(errors_after.back().find(
                    "Station file StationInfo.conf could not be read at start, moved it to " + files[1]),
                std::string::npos)
          << errors_after.back();
      EXPECT_EQ(node.Stop(SIGTERM), 0);
    }
  }
}

// A file the node could not read, on a full disk: the new list cannot be
// saved, and the file must still be at its name when the node restarts with
// space free. The disk is a small tmpfs in a mount namespace of a process
// of its own, so that it outlives the node; the node works in it through
// /proc/<pid>/root.
TEST(StationSaves, AFullDiskLeavesTheFileTheNodeCouldNotReadAtItsName) {
  SKIP_UNLESS_ROOT();
  const int domain = e2e::TestDomain(6);
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(Prepare(dir.path(), kUser, 0755));
  const passwd * user = getpwnam(kUser);
  ASSERT_NE(user, nullptr);
  const std::string mount = "mount -t tmpfs -o size=256k,mode=0755,uid=" + std::to_string(user->pw_uid) +
                            " tmpfs \"$0\" && exec sleep 600";
  e2e::Program disk(
      {"unshare", "--mount", "--propagation", "private", "sh", "-c", mount, dir.path() + "/work"}, {},
      dir.path() + "/disk.out", dir.path() + "/disk.err");
  const std::string work = "/proc/" + std::to_string(disk.pid()) + "/root" + dir.path() + "/work";
  struct stat host {
  }, tmpfs{};
  ASSERT_EQ(stat((dir.path() + "/work").c_str(), &host), 0);
  for (int i = 0; i < 500 && (stat(work.c_str(), &tmpfs) != 0 || tmpfs.st_dev == host.st_dev); ++i) {
    usleep(10000);
  }
  ASSERT_NE(tmpfs.st_dev, host.st_dev) << e2e::ReadFile(dir.path() + "/disk.err");
  // Root's, and no one may read it: left so by a run as root.
  const std::string file = work + "/StationInfo.conf";
  e2e::WriteFile(file, List(1));
  ASSERT_EQ(chmod(file.c_str(), 0000), 0);
  e2e::Run({"sh", "-c", "cat /dev/zero > \"$0\"", work + "/filler"}, {});

  e2e::NodeOptions options;
  options.user = kUser;
  options.workdir = work;
  const std::string load_failed = "Load station info from StationInfo.conf failed: open: Permission denied";
  {
    NodeProcess node(domain, dir.path(), options);
    ASSERT_TRUE(node.WaitReady()) << node.Stderr();
    const auto r = Cli(domain, {"call", "10001", e2e::Hex(List(2))});
    EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 10007") << r.out << r.err;
    EXPECT_EQ(e2e::ListFiles(work), (std::vector<std::string>{"StationInfo.conf", "filler"}));
    EXPECT_EQ(e2e::ReadFile(file), List(1));
    const auto errors = ErrorLines(node);
    ASSERT_EQ(errors.size(), 2u) << node.Log();
    EXPECT_NE(errors[1].find("cannot be kept: write StationInfo.conf.tmp."), std::string::npos) << errors[1];
    EXPECT_NE(errors[1].find("No space left on device"), std::string::npos) << errors[1];
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
  ASSERT_EQ(unlink((work + "/filler").c_str()), 0);
  NodeProcess node(domain, dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  EXPECT_EQ(StoredInMemory(domain), "");
  const auto errors = ErrorLines(node);  // the log of both starts
  ASSERT_EQ(errors.size(), 3u) << node.Log();
  EXPECT_NE(errors[2].find(load_failed), std::string::npos) << errors[2];
  EXPECT_EQ(e2e::ReadFile(file), List(1)) << "byte for byte";

  // With space free, the next list keeps the file beside it.
  const auto r = Cli(domain, {"call", "10001", e2e::Hex(List(3))});
  EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 0") << r.out << r.err;
  const auto files = e2e::ListFiles(work);
  ASSERT_EQ(files.size(), 2u) << testing::PrintToString(files);
  EXPECT_EQ(e2e::ReadFile(file), List(3));
  EXPECT_EQ(e2e::ReadFile(work + "/" + files[1]), List(1));
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// A node killed at each step of the save that keeps a file it could not read
// leaves one of these folders; whatever the step, the next start finds the
// old file (or says where it is) and the next list is saved beside it.
TEST(StationSaves, AStartAfterACrashAtEachStepOfKeepingAFileFindsIt) {
  const int domain = e2e::TestDomain(7);
  const std::string old("not a station list\n\xff", 20);
  const std::string aside = "StationInfo.conf.unreadable-20261208T191500Z";
  const pid_t dead = fork();  // reaped at once: a pid no process has
  if (dead == 0) {
    _exit(0);
  }
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string temp = "StationInfo.conf.tmp." + std::to_string(dead);
  const std::string load_failed =
      "Load station info from StationInfo.conf failed: not an encoded station list";
  struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;  // "=NAME": a hard link to NAME
    std::vector<std::string> after_start;
    std::string stored;  // 10002 after the start, in e2e::Hex's form
    std::string error;   // the one error line of the start, or ""
  };
  const std::vector<Case> cases = {
      {"the new list written",
       {{"StationInfo.conf", old}, {temp, List(2)}},
       {"StationInfo.conf"},
       "",
       load_failed},
      {"and the old file's second name made",
       {{"StationInfo.conf", old}, {aside, "=StationInfo.conf"}, {temp, List(2)}},
       {"StationInfo.conf", aside},
       "",
       load_failed},
      {"or the new list under that name, not yet swapped",
       {{"StationInfo.conf", old}, {aside, List(2)}},
       {"StationInfo.conf", aside},
       "",
       load_failed},
      {"the new list in place",
       {{"StationInfo.conf", List(2)}, {aside, old}},
       {"StationInfo.conf", aside},
       e2e::Hex(List(2)),
       ""},
      {"the old file moved, nothing saved (before this change)",
       {{aside, old}, {"StationInfo.conf.unreadable-20261209T000000Z", old}},
       {aside, "StationInfo.conf.unreadable-20261209T000000Z"},
       "",
       "No station file StationInfo.conf, the station list is empty; a station file that could not be read "
       "was "
       "kept as StationInfo.conf.unreadable-20261209T000000Z (the newest of 2 such files)"},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string work = dir.path() + "/work";
    ASSERT_EQ(system(("mkdir -p '" + work + "'").c_str()), 0);
    for (const auto & f : c.files) {
      if (f.second[0] == '=') {
        ASSERT_EQ(link((work + "/" + f.second.substr(1)).c_str(), (work + "/" + f.first).c_str()), 0);
      } else {
        e2e::WriteFile(work + "/" + f.first, f.second);
      }
    }
    NodeProcess node(domain, dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stderr();
    EXPECT_EQ(e2e::ListFiles(work), c.after_start);
    EXPECT_EQ(StoredInMemory(domain), c.stored);
    const auto errors = ErrorLines(node);
    EXPECT_EQ(errors.size(), c.error.empty() ? 0u : 1u) << node.Log();
    if (!c.error.empty() && !errors.empty()) {
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
    }
    const auto r = Cli(domain, {"call", "10001", e2e::Hex(List(3))});
    EXPECT_EQ(e2e::Lines(r.out).at(0), "code: 0") << r.out << r.err;
    EXPECT_EQ(e2e::ReadFile(node.StationFile()), List(3));
    int old_copies = 0;
    for (const auto & name : e2e::ListFiles(work)) {
      old_copies += e2e::ReadFile(work + "/" + name) == old;
    }
    EXPECT_GE(old_copies, 1) << "the old file is gone";
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
}

TEST(StationSaves, ALinkToPersistentStorageStaysALink) {
  TempDir dir;
  ASSERT_EQ(system(("mkdir -p '" + dir.path() + "/korvane/persist' '" + dir.path() + "/work'").c_str()), 0);
  const std::string target = dir.path() + "/korvane/persist/st";
  e2e::WriteFile(target, List(1));
  ASSERT_EQ(symlink("/opt/korvane/persist/st", (dir.path() + "/work/StationInfo.conf").c_str()), 0);
  NodeProcess node(e2e::TestDomain(2), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_EQ(StoredInMemory(e2e::TestDomain(2)), e2e::Hex(List(1)));
  EXPECT_EQ(Cli(e2e::TestDomain(2), {"call", "10001", e2e::Hex(List(2))}).exit_status, 0);
  struct stat link;
  ASSERT_EQ(lstat(node.StationFile().c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(e2e::ReadFile(target), List(2));
  EXPECT_EQ(e2e::ListFiles(dir.path() + "/korvane/persist"), std::vector<std::string>{"st"});
  EXPECT_EQ(ErrorLines(node), std::vector<std::string>{});
}

// A container or an init script may mount a persistent file over the name:
// it can be written but never replaced, in a writable folder or a read-only one.
TEST(StationSaves, AFileMountedOverTheNameIsWrittenInPlace) {
  for (bool read_only_folder : {false, true}) {
    SCOPED_TRACE(read_only_folder ? "read-only folder" : "writable folder");
    TempDir dir;
    ASSERT_EQ(system(("mkdir -p '" + dir.path() + "/korvane/persist' '" + dir.path() + "/work'").c_str()), 0);
    const std::string persistent = dir.path() + "/korvane/persist/st";
    e2e::WriteFile(persistent, List(1));
    e2e::WriteFile(dir.path() + "/work/StationInfo.conf", "");
    e2e::NodeOptions options;
    options.read_only_workdir = read_only_folder;
    options.setup = "mount --bind \"$KORVANE/persist/st\" \"$WORK/StationInfo.conf\"";
    NodeProcess node(e2e::TestDomain(3), dir.path(), options);
    ASSERT_TRUE(node.WaitReady()) << node.Stderr();
    ASSERT_EQ(StoredInMemory(e2e::TestDomain(3)), e2e::Hex(List(1)));

    const auto r = Cli(e2e::TestDomain(3), {"call", "10001", e2e::Hex(List(2))});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(e2e::ReadFile(persistent), List(2));
    EXPECT_EQ(e2e::ListFiles(node.WorkDir()), std::vector<std::string>{"StationInfo.conf"});
    const auto errors = ErrorLines(node);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(read_only_folder ? "Read-only file system" : "Device or resource busy"),
              std::string::npos)
        << errors[0];
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
}

TEST(MapHistory, AFifoSwappedInBetweenRequestsNeverBlocksTheNode) {
  TempDir dir;
  NodeProcess node(e2e::TestDomain(4), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const std::string folder = dir.path() + "/korvane/data/resource/map";
  ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
  const std::string history = folder + "/history.map";

  // One client for every call, answered once before the swapping starts. A
  // client's first call can lose its reply while the node has not yet
  // discovered the client's reply reader (ROS 2's Cyclone DDS layer waits 100
  // ms for it, then drops the reply), which a new client per call met now and
  // then on a busy machine. A node blocked on a FIFO answers no call at all.
  e2e::Caller caller(e2e::TestDomain(4));
  ASSERT_TRUE(caller.CallUntilAnswered(1002, "", std::chrono::seconds(20))) << node.Stderr();

  // Swaps a regular file and a FIFO without a writer under the name as fast
  // as it can (a new name for each, renamed over the old), so that requests
  // meet either, and one may change between being examined and being opened.
  e2e::WriteFile(folder + "/file", "map_9\n");
  ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0644), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    const std::string next = folder + "/next";
    while (!stop) {
      for (const char * source : {"/file", "/fifo"}) {
        link((folder + source).c_str(), next.c_str());
        std::rename(next.c_str(), history.c_str());
      }
    }
  });
  const std::string map_9("\x12\x05map_9", 7);  // MapInfo { map_id_str: "map_9" }
  int answered = 0;
  for (int i = 0; i < 60; ++i) {
    const auto reply = caller.Call(1002, "", std::chrono::seconds(10));
    if (!reply) {
      ADD_FAILURE() << "call " << i << ": no answer within 10 s; the node's standard error:\n"
                    << node.Stderr();
      break;
    }
    EXPECT_EQ(reply->code, 0);
    EXPECT_TRUE(reply->payload.empty() || reply->payload == map_9) << e2e::Hex(reply->payload);
    ++answered;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(answered, 60);
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

}  // namespace
