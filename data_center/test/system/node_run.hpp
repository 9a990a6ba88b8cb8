// SPDX-License-Identifier: Apache-2.0
// The node as a process of a system test: started, waited for, stopped.
#ifndef DATA_CENTER__TEST__SYSTEM__NODE_RUN_HPP_
#define DATA_CENTER__TEST__SYSTEM__NODE_RUN_HPP_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char ** environ;

namespace node_run {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kBound(20);

inline std::string ReadText(const fs::path & path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A program (`args`, the node or what starts it), started in `root`/work
// with its output in files beside it and rcl's log folder in `root`; killed
// if the test leaves it running.
class NodeRun {
 public:
  NodeRun(const fs::path & root, std::vector<std::string> args) : root_(root) {
    fs::create_directories(root / "work");
    fs::create_directories(root / "ros_log");
    std::vector<std::string> env = {"ROS_LOG_DIR=" + (root / "ros_log").string()};
    for (char ** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("ROS_LOG_DIR=", 0) != 0) env.emplace_back(*e);
    }
    // Built before fork: the child of a threaded process only makes system calls.
    std::vector<char *> argv, envp;
    for (auto & a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto & e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string work = (root / "work").string(), out = (root / "stdout").string(),
                      err = (root / "stderr").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out_fd < 0 || err_fd < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 ||
          chdir(work.c_str()) != 0) {
        _exit(127);
      }
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~NodeRun() {
    if (Running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  NodeRun(const NodeRun &) = delete;
  NodeRun & operator=(const NodeRun &) = delete;

  bool Running() {
    if (pid_ <= 0) status_ = 127;  // fork failed: nothing to wait for or signal
    if (status_ >= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // True once the node has said that it serves.
  bool WaitReady() {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
      if (("\n" + Stdout()).find("\nafter advertiseService robot_status_query\n") != std::string::npos)
        return true;
      if (!Running()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Sends `signo` and returns the exit status (128 + signal if killed by
  // one), or -1 when the node is still running after the bound.
  int Stop(int signo) {
    if (Running()) kill(pid_, signo);
    return Wait(kBound);
  }
  // The exit status once the program ends by itself, or -1 when it still
  // runs after `bound`.
  int Wait(std::chrono::steady_clock::duration bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Running() ? -1 : status_;
  }
  std::string Stdout() const { return ReadText(root_ / "stdout"); }
  std::string Output() const {
    return "standard output:\n" + Stdout() + "standard error:\n" + ReadText(root_ / "stderr");
  }

 private:
  fs::path root_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace node_run

#endif  // DATA_CENTER__TEST__SYSTEM__NODE_RUN_HPP_
