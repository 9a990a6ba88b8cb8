// Runs the real node and client binaries for end-to-end tests: each node in
// its own working folder, with a private /opt/korvane (a bind mount inside a
// mount namespace), on the test's own ROS_DOMAIN_ID.
#ifndef DATA_CENTER_TEST_E2E_SUPPORT_HPP_
#define DATA_CENTER_TEST_E2E_SUPPORT_HPP_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// Exit code of a waitpid status, or 128 + signal.
int DecodeStatus(int status);
// fork + exec of `argv` with standard output and error to files, extra
// environment and an optional working folder. The child dies with the test.
pid_t Spawn(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
            const std::string & out_path, const std::string & err_path, const std::string & cwd = "");

// The command line that runs one of this build's programs: the program alone,
// or behind the emulator the build was configured with
// (CMAKE_CROSSCOMPILING_EMULATOR) when it was cross-built. Programs this
// build starts must go through it: the emulator does not follow exec.
std::vector<std::string> OwnProgram(const std::string & path);

std::string ReadFile(const std::string & path);
void WriteFile(const std::string & path, const std::string & content);
std::vector<std::string> Lines(const std::string & text);
// Files of a folder whose names start with `prefix`, sorted.
std::vector<std::string> ListFiles(const std::string & dir, const std::string & prefix = "");

// A fresh folder under the system temp folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir & operator=(const TempDir &) = delete;
  const std::string & path() const { return path_; }

 private:
  std::string path_;
};

struct Result {
  int exit_status = -1;  // exit code, or 128 + signal
  std::string out;
  std::string err;
};

// Runs a program to its end with extra environment, capturing its output.
Result Run(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
           std::chrono::seconds limit = std::chrono::seconds(30));

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
  // The node's command line before its arguments; empty: this build's node
  // (see OwnProgram).
  std::vector<std::string> program;
};

// The data_center binary, started in `root`/work with `root`/korvane mounted
// over /opt/korvane.
class NodeProcess {
 public:
  NodeProcess(int domain_id, const std::string & root, const std::vector<std::string> & extra_args = {},
              bool read_only_workdir = false);
  NodeProcess(int domain_id, const std::string & root, const NodeOptions & options);
  ~NodeProcess();
  NodeProcess(const NodeProcess &) = delete;
  NodeProcess & operator=(const NodeProcess &) = delete;

  // Waits until standard output holds `line`; false on time-out or exit.
  bool WaitForStdoutLine(const std::string & line, std::chrono::seconds limit = std::chrono::seconds(20));
  bool WaitReady() { return WaitForStdoutLine("after advertiseService robot_status_query"); }
  // Sends `signo` and waits for the exit; returns the exit status (128+sig if killed).
  int Stop(int signo, std::chrono::seconds limit = std::chrono::seconds(20));
  bool Running();
  std::string Stdout() const;
  std::string Stderr() const;
  pid_t pid() const { return pid_; }
  std::string LogDir() const { return root_ + "/korvane/logs/data_center"; }
  std::string WorkDir() const { return root_ + "/work"; }
  std::string HistoryFile() const { return root_ + "/korvane/data/resource/map/history.map"; }
  // `path` as the running node sees it, through its own mount namespace (so
  // that mounts of NodeOptions::setup are visible).
  std::string SeenByNode(const std::string & path) const {
    return "/proc/" + std::to_string(pid_) + "/root" + path;
  }

 private:
  std::string root_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// Calls the client binary against `domain_id`.
Result Cli(int domain_id, const std::vector<std::string> & args);
// The same with another client's command line (for example another build's).
Result Cli(const std::vector<std::string> & program, int domain_id, const std::vector<std::string> & args);

// Today's log file name suffix, as the node names it.
std::string TodayLogName();

}  // namespace e2e

#endif  // DATA_CENTER_TEST_E2E_SUPPORT_HPP_
