// SPDX-License-Identifier: Apache-2.0
#include "process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "files.hpp"

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

pid_t Spawn(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
            const std::string & out_path, const std::string & err_path, const std::string & cwd) {
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
    for (const auto & kv : env) {
      setenv(kv.first.c_str(), kv.second.c_str(), 1);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      _exit(126);
    }
    std::vector<char *> args;
    for (const auto & a : argv) {
      args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
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

void Program::Kill() {
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = DecodeStatus(status);
}

int Program::Wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (Running()) {
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
