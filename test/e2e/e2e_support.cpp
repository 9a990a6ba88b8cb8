#include "e2e_support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

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

// fork + exec with stdout/stderr to files and extra environment.
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

std::vector<std::string> OwnProgram(const std::string & path) {
  std::vector<std::string> argv;
  std::istringstream words(DATA_CENTER_TEST_EMULATOR);
  std::string word;
  while (words >> word) {
    argv.push_back(word);
  }
  argv.push_back(path);
  return argv;
}

namespace {

bool WaitFor(pid_t pid, int & status, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

std::string ReadFile(const std::string & path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string & path, const std::string & content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<std::string> Lines(const std::string & text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> ListFiles(const std::string & dir, const std::string & prefix) {
  std::vector<std::string> names;
  if (DIR * d = opendir(dir.c_str())) {
    while (dirent * e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name.compare(0, prefix.size(), prefix) == 0) {
        names.push_back(name);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  const char * base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/data_center_e2e_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  const std::string cmd = "rm -rf '" + path_ + "'";
  if (std::system(cmd.c_str()) != 0) {
    // best effort
  }
}

Result Run(const std::vector<std::string> & argv, const std::map<std::string, std::string> & env,
           std::chrono::seconds limit) {
  TempDir dir;
  const std::string out = dir.path() + "/out";
  const std::string err = dir.path() + "/err";
  const pid_t pid = Spawn(argv, env, out, err);
  int status = 0;
  Result result;
  if (!WaitFor(pid, status, limit)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  result.exit_status = DecodeStatus(status);
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

NodeProcess::NodeProcess(int domain_id, const std::string & root, const std::vector<std::string> & extra_args,
                         bool read_only_workdir)
    : NodeProcess(domain_id, root, NodeOptions{extra_args, read_only_workdir, "", {}}) {}

NodeProcess::NodeProcess(int domain_id, const std::string & root, const NodeOptions & options) : root_(root) {
  mkdir((root_ + "/korvane").c_str(), 0755);
  mkdir((root_ + "/work").c_str(), 0755);
  mkdir("/opt/korvane", 0755);  // the mount point; its real content is never touched
  std::string script = "mount --bind \"$1\" /opt/korvane && ";
  if (options.read_only_workdir) {
    script += "mount --bind \"$2\" \"$2\" && mount -o remount,bind,ro \"$2\" && ";
  }
  if (!options.setup.empty()) {
    script += "KORVANE=\"$1\" WORK=\"$2\" && ( " + options.setup + "\n) && ";
  }
  script += "cd \"$2\" && shift 2 && exec \"$@\"";
  std::vector<std::string> argv = {"unshare", "-m", "--propagation",    "private",      "sh", "-c",
                                   script,    "sh", root_ + "/korvane", root_ + "/work"};
  const auto program = options.program.empty() ? OwnProgram(DATA_CENTER_BIN) : options.program;
  argv.insert(argv.end(), program.begin(), program.end());
  argv.insert(argv.end(), options.extra_args.begin(), options.extra_args.end());
  pid_ = Spawn(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id)}}, root_ + "/stdout", root_ + "/stderr");
}

NodeProcess::~NodeProcess() {
  if (status_ == -1 && pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool NodeProcess::Running() {
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

bool NodeProcess::WaitForStdoutLine(const std::string & line, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
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

int NodeProcess::Stop(int signo, std::chrono::seconds limit) {
  if (!Running()) {
    return status_;
  }
  kill(pid_, signo);
  int status = 0;
  if (!WaitFor(pid_, status, limit)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  status_ = DecodeStatus(status);
  return status_;
}

std::string NodeProcess::Stdout() const {
  return ReadFile(root_ + "/stdout");
}
std::string NodeProcess::Stderr() const {
  return ReadFile(root_ + "/stderr");
}

Result Cli(int domain_id, const std::vector<std::string> & args) {
  return Cli(OwnProgram(DATA_CENTER_CLI_BIN), domain_id, args);
}

Result Cli(const std::vector<std::string> & program, int domain_id, const std::vector<std::string> & args) {
  std::vector<std::string> argv = program;
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, {{"ROS_DOMAIN_ID", std::to_string(domain_id)}});
}

std::string TodayLogName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "data_center_log_file_%Y-%m-%d", &local);
  return buf;
}

}  // namespace e2e
