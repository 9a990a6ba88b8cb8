// SPDX-License-Identifier: Apache-2.0
// The installed node as its systemd unit runs it, on Fast DDS: started by the
// unit's ExecStart (the installed launcher), as the unit's user (nobody where
// there is none), with the unit's environment and no HOME; called by root
// with the package's rclcpp client. Fast DDS 2.6 passes samples between local
// processes in shared-memory files only their owner may write, so unless the
// launcher keeps the node off them its answers never reach a caller of
// another user. A peer in another network namespace, joined by a veth pair,
// must not see the node when the site asked for loopback only, and must see
// it when not (which shows that the peer could have).
//
// Root only. The test moves into a network namespace of its own first: its
// DDS traffic stays on its lo and its veth pair.
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kPrefix = DATA_CENTER_INSTALL_PREFIX;
const std::string kCli = kPrefix + "/lib/data_center/data_center_cli";
const std::string kPeerNamespace = "data_center_peer_" + std::to_string(getpid());
// What systemd puts in every service's environment.
constexpr char kSystemdPath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::string Quote(const std::string & text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const fs::path & path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Result {
  int status = -1;
  std::string output;  // standard output and error
};

Result Sh(const std::string & command) {
  Result result;
  FILE * pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The installed unit's settings: every value of each key, in file order.
std::map<std::string, std::vector<std::string>> ReadUnit() {
  std::map<std::string, std::vector<std::string>> unit;
  std::istringstream lines(ReadText(kPrefix + "/share/data_center/systemd/data_center.service"));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    unit[line.substr(0, eq)].push_back(line.substr(eq + 1));
  }
  return unit;
}

// The node started by the unit's ExecStart, as its user and with its
// environment plus `site` (the unit's EnvironmentFile), in `dir`.
class UnitRun {
 public:
  UnitRun(const fs::path & dir, const std::string & site) : dir_(dir) {
    auto unit = ReadUnit();
    const passwd * account = getpwnam(unit["User"].empty() ? "" : unit["User"][0].c_str());
    if (account == nullptr) account = getpwnam("nobody");
    fs::create_directories(dir / "work");
    fs::create_directories(dir / "ros_log");
    std::string environment = kSystemdPath;
    for (const auto & assignment : unit["Environment"]) {
      // The unit's log folder for rcl is not on this machine; one of the test's instead.
      environment +=
          " " + Quote(assignment.rfind("ROS_LOG_DIR=", 0) == 0 ? "ROS_LOG_DIR=" + (dir / "ros_log").string()
                                                               : assignment);
    }
    const std::string command =
        "chown -R " + std::to_string(account->pw_uid) + " " + Quote(dir) + " && cd " + Quote(dir / "work") +
        " && exec setpriv --reuid=" + std::to_string(account->pw_uid) +
        " --regid=" + std::to_string(account->pw_gid) + " --clear-groups env -i " + environment + " " + site +
        " " + unit["ExecStart"].at(0) + " >../stdout 2>../stderr";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~UnitRun() { Stop(SIGKILL); }
  UnitRun(const UnitRun &) = delete;
  UnitRun & operator=(const UnitRun &) = delete;

  bool WaitReady() {
    for (int i = 0; i < 1000 && Running(); ++i) {
      if (ReadText(dir_ / "stdout").find("after advertiseService robot_status_query\n") != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // The exit status, after `signo` if it still runs.
  int Stop(int signo) {
    if (Running()) {
      kill(pid_, signo);
      int status = 0;
      waitpid(pid_, &status, 0);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }
  std::string Output() const { return ReadText(dir_ / "stdout") + ReadText(dir_ / "stderr"); }

 private:
  bool Running() {
    int status = 0;
    if (status_ < 0 && (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != 0))
      status_ = pid_ <= 0 ? 127 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_ < 0;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int status_ = -1;
};

class UnitOnFastDds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char * rmw = std::getenv("RMW_IMPLEMENTATION");
    if (geteuid() != 0) {
      skip_ = "runs the node as another user and makes network namespaces, which needs root";
    } else if (rmw != nullptr && *rmw != '\0' && std::string(rmw) != "rmw_fastrtps_cpp") {
      skip_ = std::string("runs on rmw_fastrtps_cpp; this run is on ") + rmw;
    } else if (Sh("RMW_IMPLEMENTATION=rmw_fastrtps_cpp " + kPrefix + "/lib/data_center/data_center_rmw")
                   .status != 0) {
      skip_ = "rmw_fastrtps_cpp is not installed";
    } else if (Sh("command -v ip && command -v setpriv").status != 0) {
      skip_ = "needs ip (iproute2) and setpriv (util-linux)";
    }
    if (!skip_.empty()) return;
    // The test's own network: lo, and a veth pair to the peer's namespace.
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    const Result net =
        Sh("ip link set lo up && ip netns add " + kPeerNamespace +
           " && ip link add dc_node type veth peer name dc_peer netns " + kPeerNamespace +
           " && ip addr add 10.231.0.1/24 dev dc_node && ip link set dc_node up" + " && ip -n " +
           kPeerNamespace + " addr add 10.231.0.2/24 dev dc_peer" + " && ip -n " + kPeerNamespace +
           " link set dc_peer up" + " && ip -n " + kPeerNamespace + " link set lo up");
    ASSERT_EQ(net.status, 0) << net.output;
  }
  static void TearDownTestSuite() {
    if (skip_.empty()) Sh("ip netns del " + kPeerNamespace);
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    char pattern[] = "/tmp/data_center_unit_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);  // the node's user passes
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // The client as `prefix` runs it: Fast DDS as it comes unless `env` says
  // otherwise, waiting `seconds` for the service and again for its answer.
  Result Call(const std::string & prefix, const std::string & env, int seconds) const {
    return Sh(prefix + " env -u FASTRTPS_DEFAULT_PROFILES_FILE -u FASTDDS_DEFAULT_PROFILES_FILE " +
              "RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOG_DIR=" + Quote(dir_) + " " + env + " " +
              Quote(kCli) + " --timeout " + std::to_string(seconds) + " robot-info");
  }

  static std::string skip_;
  fs::path dir_;
};

std::string UnitOnFastDds::skip_;

TEST_F(UnitOnFastDds, AnswersRootOnEitherLocalhostSettingAndStaysOnLoopbackWhenAsked) {
  const char * domain = std::getenv("ROS_DOMAIN_ID");
  const std::string domain_id = std::string("ROS_DOMAIN_ID=") + (domain != nullptr ? domain : "0");
  const struct {
    const char * localhost_only;  // the site's setting, for node and root alike
    bool peer_sees;
  } cases[] = {{"ROS_LOCALHOST_ONLY=1", false}, {"", true}};
  for (const auto & c : cases) {
    SCOPED_TRACE(*c.localhost_only ? c.localhost_only : "ROS_LOCALHOST_ONLY unset");
    UnitRun node(dir_ / (*c.localhost_only ? "loopback" : "all"),
                 domain_id + " RMW_IMPLEMENTATION=rmw_fastrtps_cpp " + c.localhost_only);
    ASSERT_TRUE(node.WaitReady()) << node.Output();

    const Result root = Call(*c.localhost_only ? "" : "env -u ROS_LOCALHOST_ONLY", c.localhost_only, 10);
    EXPECT_EQ(root.status, 0) << root.output;
    EXPECT_NE(root.output.find("code: 0\n"), std::string::npos) << root.output;

    // Another host's view: UDP, every interface.
    const Result peer = Call("ip netns exec " + kPeerNamespace,
                             "ROS_LOCALHOST_ONLY=0 FASTDDS_BUILTIN_TRANSPORTS=UDPv4", c.peer_sees ? 10 : 3);
    if (c.peer_sees) {
      EXPECT_EQ(peer.status, 0) << peer.output;
    } else {
      EXPECT_NE(peer.output.find("not available"), std::string::npos) << peer.output;
    }
    EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Output();
  }
}

}  // namespace
