// SPDX-License-Identifier: Apache-2.0
#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "files.hpp"
#include "test_environment.hpp"

namespace e2e {

int DecodeStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return -1;
}

namespace {

// The child's environment: this process's, with `overrides` set.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string> & overrides) {
  std::vector<std::string> env;
  for (char ** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (overrides.count(entry.substr(0, entry.find('='))) == 0) {
      env.push_back(entry);
    }
  }
  for (const auto & kv : overrides) {
    env.push_back(kv.first + "=" + kv.second);
  }
  return env;
}

std::vector<char *> Pointers(std::vector<std::string> & strings) {
  std::vector<char *> pointers;
  for (auto & s : strings) {
    pointers.push_back(&s[0]);
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

pid_t Spawn(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
            const std::string & out_path, const std::string & err_path, const std::string & cwd) {
  // Everything the child needs is built before fork: between fork and exec
  // the child may only make system calls. Another thread of the test may hold
  // the allocator's lock at the fork, and a child that allocates then waits
  // for it for ever (seen under ASan, whose allocator fork does not reset).
  std::vector<std::string> arg_strings = argv;
  std::vector<std::string> env_strings = ChildEnvironment(env);
  const std::vector<char *> args = Pointers(arg_strings);
  const std::vector<char *> envp = Pointers(env_strings);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // A test killed by a time-out must not leave its node serving the
    // domain: the next run would talk to it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) {
      _exit(126);
    }
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

Program::Program(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
                 const std::string & out_path, const std::string & err_path, const std::string & cwd)
    : pid_(Spawn(argv, env, out_path, err_path, cwd)) {}

Program::~Program() {
  if (Running()) {
    Kill();
  }
}

bool Program::Running() {
  if (status_ != -1) {
    return false;
  }
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = DecodeStatus(status);
    return false;
  }
  return true;
}

namespace {

// Where a program that overran its time was stuck, for the test's output:
// a hang seen once in CI is otherwise a guess.
void ReportThreads(pid_t pid) {
  if (access("/usr/bin/gdb", X_OK) != 0) {
    return;
  }
  const std::string command =
      "timeout 30 /usr/bin/gdb -nx -p " + std::to_string(pid) + " -batch -ex 'thread apply all bt' 2>&1";
  FILE * gdb = popen(command.c_str(), "r");
  if (gdb == nullptr) {
    return;
  }
  std::cerr << "process " << pid << " overran its time; its threads:\n";
  char line[1024];
  while (std::fgets(line, sizeof line, gdb) != nullptr) {
    std::cerr << "  " << line;
  }
  pclose(gdb);
}

}  // namespace

void Program::Kill() {
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = DecodeStatus(status);
}

bool UnderEmulation() {
  const char * node = std::getenv("DATA_CENTER_TEST_NODE_EMULATED");
  return !std::string(DATA_CENTER_TEST_EMULATOR).empty() || (node != nullptr && std::string(node) == "1");
}

long TimeScale() {
  const long given = EnvLong("DATA_CENTER_TEST_TIME_SCALE", 0);
  if (given > 0) {
    return given;
  }
  return UnderEmulation() ? 4 : 1;
}

int Program::Wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + Scaled(limit);
  while (Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (Running()) {
    ReportThreads(pid_);
    Kill();
  }
  return status_;
}

int Program::Stop(int signo, std::chrono::milliseconds limit) {
  if (Running()) {
    kill(pid_, signo);
  }
  return Wait(limit);
}

Result Run(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
           std::chrono::seconds limit) {
  TempDir dir;
  const std::string out = dir.path() + "/out";
  const std::string err = dir.path() + "/err";
  Result result;
  {
    Program program(argv, env, out, err);
    result.exit_status = program.Wait(limit);
  }
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

namespace {

long StatusKiB(pid_t pid, const std::string & key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) {
      std::istringstream fields(line.substr(key.size()));
      long kib = -1;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

}  // namespace

long RssKiB(pid_t pid) {
  return StatusKiB(pid, "VmRSS:");
}

long PeakRssKiB(pid_t pid) {
  return StatusKiB(pid, "VmHWM:");
}

}  // namespace e2e
