// SPDX-License-Identifier: Apache-2.0
// The real node and client binaries: each node started through the
// data_center_hermetic launcher, in its own working folder with a private
// /opt/korvane, on the test's own ROS_DOMAIN_ID.
#ifndef DATA_CENTER_TEST__SUPPORT__NODE_PROCESS_HPP_
#define DATA_CENTER_TEST__SUPPORT__NODE_PROCESS_HPP_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "process.hpp"

namespace e2e {

// The command line that runs one of this build's programs: the program alone,
// or behind the emulator the build was configured with
// (CMAKE_CROSSCOMPILING_EMULATOR) when it was cross-built. Programs this
// build starts must go through it: the emulator does not follow exec.
std::vector<std::string> OwnProgram(const std::string & path);

// The node the whole-system tests start: DATA_CENTER_TEST_NODE, a command line
// of words separated by spaces (another build's node, say the robot build's
// behind a wrapper that sources its workspace), or this build's node.
std::vector<std::string> TestedNode();
// Whether that node is the robot build, on ROS 2 Humble's rcl and middleware
// (DATA_CENTER_TEST_NODE_BUILD=robot). Tests of what rclcpp_compat/README.md
// lists as a difference from Humble expect Humble's behaviour from it.
bool TestingRobotBuild();
// Whether that robot build is of ROS 2 Jazzy or later
// (DATA_CENTER_TEST_NODE_DISTRO, set with it; Humble when unset), where rcl
// and the graph differ from Humble's.
bool TestingJazzyNode();

// How a node is started, beyond its domain and root folder.
struct NodeOptions {
  std::vector<std::string> extra_args;
  // The working folder is mounted read-only for the node, so that nothing it
  // writes there can land.
  bool read_only_workdir = false;
  // Shell commands run inside the node's mount namespace once /opt/korvane is
  // mounted, just before the node starts; "$KORVANE" and "$WORK" name the
  // host folders behind /opt/korvane and the working folder. Mounts made here
  // are seen by the node only. If the commands fail the node is not started.
  std::string setup;
  // When set, the node runs as this user, with its primary group only; this
  // build's folder is then added to `reach`.
  std::string user;
  // Folders the program must reach at their own paths even under a folder
  // closed to others (the launcher's --reach).
  std::vector<std::string> reach;
  // Environment beyond ROS_DOMAIN_ID (ROS_SECURITY_*, say).
  std::map<std::string, std::string> env;
  // The working folder as the node sees it, such as a folder under
  // /opt/korvane; empty: the root's work/.
  std::string workdir;
  // The node's command line before its arguments; empty: TestedNode().
  std::vector<std::string> program;
};

// The command that runs `program` through the data_center_hermetic launcher:
// `korvane` over /opt/korvane, `work` as working folder.
std::vector<std::string> HermeticCommand(const std::string & korvane, const std::string & work,
                                         const NodeOptions & options,
                                         const std::vector<std::string> & program);

// The data_center binary, started in `root`/work with `root`/korvane mounted
// over /opt/korvane.
class NodeProcess {
 public:
  NodeProcess(int domain_id, const std::string & root, const std::vector<std::string> & extra_args = {},
              bool read_only_workdir = false);
  NodeProcess(int domain_id, const std::string & root, const NodeOptions & options);
  NodeProcess(const NodeProcess &) = delete;
  NodeProcess & operator=(const NodeProcess &) = delete;

  // Waits until standard output holds `line`; false on time-out or exit.
  bool WaitForStdoutLine(const std::string & line, std::chrono::seconds limit = std::chrono::seconds(20));
  bool WaitReady() { return WaitForStdoutLine("after advertiseService robot_status_query"); }
  // Sends `signo` and waits for the exit; returns the exit status (128+sig if killed).
  int Stop(int signo, std::chrono::seconds limit = std::chrono::seconds(20)) {
    return program_.Stop(signo, limit);
  }
  bool Running() { return program_.Running(); }
  std::string Stdout() const;
  std::string Stderr() const;
  pid_t pid() const { return program_.pid(); }
  std::string LogDir() const { return root_ + "/korvane/logs/data_center"; }
  std::string WorkDir() const { return root_ + "/work"; }
  std::string StationFile() const { return WorkDir() + "/StationInfo.conf"; }
  // The text of the node's log file of today.
  std::string Log() const;
  std::string HistoryFile() const { return root_ + "/korvane/data/resource/map/history.map"; }
  // `path` as the running node sees it, through its own mount namespace (so
  // that mounts of NodeOptions::setup are visible).
  std::string SeenByNode(const std::string & path) const {
    return "/proc/" + std::to_string(pid()) + "/root" + path;
  }

 private:
  std::string root_;
  Program program_;
};

// Calls the client binary against `domain_id`, with extra environment.
Result Cli(int domain_id, const std::vector<std::string> & args,
           const std::map<std::string, std::string> & env = {});
// The same with another client's command line (for example another build's).
Result Cli(const std::vector<std::string> & program, int domain_id, const std::vector<std::string> & args);

// Makes a ROS 2 security keystore at `dir` (test/support/make_keystore):
// ENCLAVE[:KIND] specs; "" or what went wrong.
std::string MakeKeystore(const std::string & dir, const std::vector<std::string> & enclaves);

// The name the node gives the log file of the day `days_from_today` away.
std::string DayLogName(int days_from_today);
std::string TodayLogName();

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__NODE_PROCESS_HPP_
