// SPDX-License-Identifier: Apache-2.0
#include "node_process.hpp"

#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli_options.hpp"
#include "files.hpp"
#include "test_environment.hpp"

namespace e2e {

std::vector<std::string> HermeticCommand(const std::string & korvane, const std::string & work,
                                         const NodeOptions & options,
                                         const std::vector<std::string> & program) {
  std::vector<std::string> argv = {DATA_CENTER_HERMETIC};
  if (options.read_only_workdir) {
    argv.push_back("--read-only-workdir");
  }
  if (!options.setup.empty()) {
    argv.insert(argv.end(), {"--setup", options.setup});
  }
  for (const auto & dir : options.reach) {
    argv.insert(argv.end(), {"--reach", dir});
  }
  argv.insert(argv.end(), {korvane, work});
  argv.insert(argv.end(), program.begin(), program.end());
  return argv;
}

std::vector<std::string> OwnProgram(const std::string & path) {
  std::vector<std::string> argv = Words(DATA_CENTER_TEST_EMULATOR);
  argv.push_back(path);
  return argv;
}

std::vector<std::string> TestedNode() {
  const char * command = std::getenv("DATA_CENTER_TEST_NODE");
  const auto words = Words(command == nullptr ? "" : command);
  return words.empty() ? OwnProgram(DATA_CENTER_BIN) : words;
}

bool TestingRobotBuild() {
  const char * build = std::getenv("DATA_CENTER_TEST_NODE_BUILD");
  return build != nullptr && std::string(build) == "robot";
}

bool TestingJazzyNode() {
  const char * distro = std::getenv("DATA_CENTER_TEST_NODE_DISTRO");
  if (!TestingRobotBuild() || distro == nullptr || *distro == '\0') return false;
  const std::string name = distro;
  return name != "foxy" && name != "galactic" && name != "humble";
}

namespace {

std::vector<std::string> NodeCommand(const std::string & root, NodeOptions options) {
  mkdir((root + "/korvane").c_str(), 0755);
  mkdir((root + "/work").c_str(), 0755);
  std::vector<std::string> program;
  if (!options.user.empty()) {
    // The node and its libraries, wherever the checkout lies.
    options.reach.push_back(DATA_CENTER_BUILD_ROOT);
    // Dropped inside the launcher's namespace, after the mounts that need root.
    const passwd * user = getpwnam(options.user.c_str());
    if (user == nullptr) {
      throw std::runtime_error("no such user: " + options.user);
    }
    program = {"setpriv", "--reuid=" + std::to_string(user->pw_uid),
               "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "--"};
  }
  const auto node = options.program.empty() ? TestedNode() : options.program;
  program.insert(program.end(), node.begin(), node.end());
  program.insert(program.end(), options.extra_args.begin(), options.extra_args.end());
  return HermeticCommand(root + "/korvane", options.workdir.empty() ? root + "/work" : options.workdir,
                         options, program);
}

std::map<std::string, std::string> WithDomain(std::map<std::string, std::string> env, int domain_id) {
  env["ROS_DOMAIN_ID"] = std::to_string(domain_id);
  return env;
}

}  // namespace

NodeProcess::NodeProcess(int domain_id, const std::string & root, const std::vector<std::string> & extra_args,
                         bool read_only_workdir)
    : NodeProcess(domain_id, root, NodeOptions{extra_args, read_only_workdir, "", "", {}, {}, "", {}}) {}

NodeProcess::NodeProcess(int domain_id, const std::string & root, const NodeOptions & options)
    : root_(root),
      program_(NodeCommand(root, options), WithDomain(options.env, domain_id), root + "/stdout",
               root + "/stderr") {}

bool NodeProcess::WaitForStdoutLine(const std::string & line, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + Scaled(limit);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto & l : Lines(Stdout())) {
      if (l == line) {
        return true;
      }
    }
    if (!Running()) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string NodeProcess::Stdout() const {
  return ReadFile(root_ + "/stdout");
}
std::string NodeProcess::Stderr() const {
  return ReadFile(root_ + "/stderr");
}

Result Cli(int domain_id, const std::vector<std::string> & args,
           const std::map<std::string, std::string> & env) {
  std::vector<std::string> argv = OwnProgram(DATA_CENTER_CLI_BIN);
  // The client's own wait for the service, scaled as the tests' are, unless
  // the test sets one.
  if (TimeScale() > 1 && std::find(args.begin(), args.end(), "--timeout") == args.end()) {
    argv.insert(
        argv.end(),
        {"--timeout", std::to_string(std::lround(data_center::cli::kDefaultTimeoutSeconds * TimeScale()))});
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, WithDomain(env, domain_id));
}

Result Cli(const std::vector<std::string> & program, int domain_id, const std::vector<std::string> & args) {
  std::vector<std::string> argv = program;
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id)}});
}

std::string MakeKeystore(const std::string & dir, const std::vector<std::string> & enclaves) {
  std::vector<std::string> argv = {DATA_CENTER_MAKE_KEYSTORE, dir};
  argv.insert(argv.end(), enclaves.begin(), enclaves.end());
  const Result r = Run(argv, {});
  return r.exit_status == 0 ? "" : "make_keystore exited " + std::to_string(r.exit_status) + ": " + r.err;
}

std::string NodeProcess::Log() const {
  return ReadFile(LogDir() + "/" + TodayLogName());
}

std::string DayLogName(int days_from_today) {
  const std::time_t when = std::time(nullptr) + days_from_today * 24 * 3600;
  std::tm local{};
  localtime_r(&when, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "data_center_log_file_%Y-%m-%d", &local);
  return buf;
}

std::string TodayLogName() {
  return DayLogName(0);
}

}  // namespace e2e
