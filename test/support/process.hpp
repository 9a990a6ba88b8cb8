// SPDX-License-Identifier: Apache-2.0
// Child processes of the whole-system tests: started with their output in
// files, waited for with a bound, killed when the test is done with them.
#ifndef DATA_CENTER_TEST__SUPPORT__PROCESS_HPP_
#define DATA_CENTER_TEST__SUPPORT__PROCESS_HPP_

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

// A program running beside the test, its standard output and error in files.
class Program {
 public:
  Program(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
          const std::string & out_path, const std::string & err_path, const std::string & cwd = "");
  // Kills the program if it still runs.
  ~Program();
  Program(const Program &) = delete;
  Program & operator=(const Program &) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // Waits up to `limit` for the exit, then kills; the exit status, or 128 +
  // the signal that ended it.
  int Wait(std::chrono::milliseconds limit);
  // Sends `signo` (if it still runs) and then Wait(limit).
  int Stop(int signo, std::chrono::milliseconds limit);

 private:
  void Kill();

  pid_t pid_ = -1;
  int status_ = -1;
};

struct Result {
  int exit_status = -1;  // exit code, or 128 + signal
  std::string out;
  std::string err;
};

// Runs a program to its end with extra environment, capturing its output.
Result Run(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
           std::chrono::seconds limit = std::chrono::seconds(30));

// VmRSS / VmHWM of a process in KiB, -1 when it cannot be read.
long RssKiB(pid_t pid);
long PeakRssKiB(pid_t pid);

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__PROCESS_HPP_
