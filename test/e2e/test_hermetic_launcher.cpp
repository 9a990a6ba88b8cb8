// SPDX-License-Identifier: Apache-2.0
// The launcher every node of the tests, the benchmark and the valgrind script
// starts through: the program must see the private /opt/korvane, run in its
// working folder and keep the process id it was started with (tests read
// /proc/<pid> of the node), whether the test runs as root or not.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

using namespace std::chrono_literals;

struct Launch {
  int status;
  pid_t pid;
  std::string out;
  std::string err;
};

Launch RunHermetic(const e2e::TempDir & dir, const e2e::NodeOptions & options, const std::string & script) {
  std::filesystem::create_directories(dir.path() + "/korvane");
  std::filesystem::create_directories(dir.path() + "/work");
  e2e::Program program(
      e2e::HermeticCommand(dir.path() + "/korvane", dir.path() + "/work", options, {"sh", "-c", script}), {},
      dir.path() + "/out", dir.path() + "/err");
  const int status = program.Wait(20s);
  return {status, program.pid(), e2e::ReadFile(dir.path() + "/out"), e2e::ReadFile(dir.path() + "/err")};
}

TEST(HermeticLauncher, ProgramSeesItsOwnKorvaneInItsWorkingFolderUnderTheStartedPid) {
  e2e::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/korvane");
  e2e::WriteFile(dir.path() + "/korvane/marker", "private\n");
  e2e::NodeOptions options;
  options.setup = "echo \"$KORVANE $WORK\" > \"$WORK/setup_saw\"";
  const auto r =
      RunHermetic(dir, options, "pwd; cat /opt/korvane/marker; echo $$; echo written > /opt/korvane/new");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(e2e::Lines(r.out),
            (std::vector<std::string>{dir.path() + "/work", "private", std::to_string(r.pid)}));
  // What the program writes under /opt/korvane lands in the test's folder.
  EXPECT_EQ(e2e::ReadFile(dir.path() + "/korvane/new"), "written\n");
  EXPECT_EQ(e2e::ReadFile(dir.path() + "/work/setup_saw"), dir.path() + "/korvane " + dir.path() + "/work\n");
}

TEST(HermeticLauncher, ReadOnlyWorkingFolderRefusesWrites) {
  e2e::TempDir dir;
  e2e::NodeOptions options;
  options.read_only_workdir = true;
  const auto r = RunHermetic(dir, options, "echo x > file");
  EXPECT_NE(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(e2e::ListFiles(dir.path() + "/work").empty());
}

TEST(HermeticLauncher, FailedSetupDoesNotStartTheProgram) {
  e2e::TempDir dir;
  e2e::NodeOptions options;
  options.setup = "false";
  const auto r = RunHermetic(dir, options, "echo started > started");
  EXPECT_EQ(r.status, 125);
  EXPECT_NE(r.err.find("setup failed"), std::string::npos) << r.err;
  EXPECT_TRUE(e2e::ListFiles(dir.path() + "/work").empty());
}

// A checkout under a home folder of mode 0700, and a program run as another
// user from it: only --reach lets that user in, without opening the folder.
TEST(HermeticLauncher, ReachOpensAFolderUnderAClosedOneToAnotherUserOnly) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "starts a program as nobody, which needs root";
  }
  const passwd * nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  e2e::TempDir dir;
  const std::string home = dir.path() + "/home";
  const std::string tree = home + "/checkout/build";
  std::filesystem::create_directories(tree);
  e2e::WriteFile(tree + "/program", "#!/bin/sh\nid -u\n");
  ASSERT_EQ(chmod((tree + "/program").c_str(), 0755), 0);
  ASSERT_EQ(chmod(home.c_str(), 0700), 0);

  for (const bool reach : {false, true}) {
    SCOPED_TRACE(reach ? "with --reach" : "without --reach");
    e2e::NodeOptions options;
    if (reach) {
      options.reach = {tree};
    }
    std::filesystem::remove_all(dir.path() + "/work");
    std::filesystem::create_directories(dir.path() + "/korvane");
    std::filesystem::create_directories(dir.path() + "/work");
    e2e::Program program(e2e::HermeticCommand(dir.path() + "/korvane", dir.path() + "/work", options,
                                              {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                               "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups",
                                               "--", tree + "/program"}),
                         {}, dir.path() + "/out", dir.path() + "/err");
    const int status = program.Wait(20s);
    const std::string out = e2e::ReadFile(dir.path() + "/out");
    if (reach) {
      EXPECT_EQ(status, 0) << e2e::ReadFile(dir.path() + "/err");
      EXPECT_EQ(out, std::to_string(nobody->pw_uid) + "\n");
    } else {
      EXPECT_NE(status, 0);
      EXPECT_EQ(out, "");
    }
    struct stat after;
    ASSERT_EQ(stat(home.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0700u) << "the folder itself stays closed";
  }
}

}  // namespace
