// SPDX-License-Identifier: Apache-2.0
// The installed node as its systemd unit runs it, on Fast DDS: the unit's
// ExecStart (the installed launcher), as the unit's user (nobody where there
// is none), with the unit's environment and no HOME; root calls it with the
// package's rclcpp client and must be answered, which Fast DDS's shared memory
// between two users prevents unless the launcher keeps the node off it. A peer
// in another network namespace, joined by a veth pair, must not find the node
// when the site asked for loopback only, and must find it when not. Root only;
// the test first moves into a network namespace of its own.
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../loopback_only.hpp"
#include "node_run.hpp"

namespace {

namespace fs = std::filesystem;
using node_run::NodeRun;
using node_run::ReadText;

const std::string kPrefix = DATA_CENTER_INSTALL_PREFIX;
const std::string kPeer = "data_center_peer_" + std::to_string(getpid());  // its network namespace

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

// What starts the node as the installed unit does: its ExecStart, as its user,
// with the unit's environment and `site` (the unit's EnvironmentFile), for a
// NodeRun in `root`.
std::vector<std::string> AsTheUnit(const fs::path & root, const std::string & site) {
  std::map<std::string, std::vector<std::string>> unit;
  std::istringstream lines(ReadText(kPrefix + "/share/data_center/systemd/data_center.service"));
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (line[0] != '#' && eq != std::string::npos) unit[line.substr(0, eq)].push_back(line.substr(eq + 1));
  }
  const passwd * user = getpwnam(unit["User"].empty() ? "" : unit["User"][0].c_str());
  if (user == nullptr) user = getpwnam("nobody");
  std::string env = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";  // systemd's
  for (const auto & assignment : unit["Environment"]) {  // the unit's rcl log folder is not on this machine
    const bool log = assignment.rfind("ROS_LOG_DIR=", 0) == 0;
    env += " " + (log ? "ROS_LOG_DIR=" + (root / "ros_log").string() : assignment);
  }
  const std::string id = std::to_string(user->pw_uid);
  return {"/bin/sh", "-c",
          "chown -R " + id + " " + root.string() + " && exec setpriv --reuid=" + id +
              " --regid=" + std::to_string(user->pw_gid) + " --clear-groups env -i " + env + " " + site +
              " " + unit["ExecStart"].at(0)};
}

class UnitOnFastDds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char * rmw = std::getenv("RMW_IMPLEMENTATION");
    if (geteuid() != 0) {
      skip_ = "runs the node as another user and makes network namespaces, which needs root";
    } else if (rmw != nullptr && *rmw != '\0' && std::string(rmw) != "rmw_fastrtps_cpp") {
      skip_ = std::string("runs on rmw_fastrtps_cpp; this run is on ") + rmw;
    } else if (Sh("RMW_IMPLEMENTATION=rmw_fastrtps_cpp " + kPrefix +
                  "/lib/data_center/data_center_rmw | grep -qx rmw_fastrtps_cpp")
                   .status != 0) {  // a ROS 2 built with one middleware loads that one whatever is asked
      skip_ = "rmw_fastrtps_cpp is not installed";
    } else if (Sh("command -v ip && command -v setpriv").status != 0) {
      skip_ = "needs ip (iproute2) and setpriv (util-linux)";
    }
    if (!skip_.empty()) return;
    ASSERT_EQ(unshare(CLONE_NEWNET), 0);
    const std::string peer = "ip -n " + kPeer + " ";
    const Result net = Sh("ip link set lo up && ip netns add " + kPeer +
                          " && ip link add dc_node type veth peer name dc_peer netns " + kPeer +
                          " && ip addr add 10.231.0.1/24 dev dc_node && ip link set dc_node up && " + peer +
                          "addr add 10.231.0.2/24 dev dc_peer && " + peer + "link set dc_peer up && " + peer +
                          "link set lo up");
    ASSERT_EQ(net.status, 0) << net.output;
  }
  static void TearDownTestSuite() {
    if (skip_.empty()) Sh("ip netns del " + kPeer);
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    char pattern[] = "/tmp/data_center_unit_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::permissions(dir_, fs::perms::others_exec, fs::perm_options::add);  // for the node's user
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // data_center_cli as root, on Fast DDS as it comes but for `env`.
  Result Call(const std::string & prefix, const std::string & env, int seconds) const {
    return Sh(prefix + " env -u FASTRTPS_DEFAULT_PROFILES_FILE -u FASTDDS_DEFAULT_PROFILES_FILE " +
              "RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOG_DIR=" + dir_.string() + " " + env + " " + kPrefix +
              "/lib/data_center/data_center_cli --timeout " + std::to_string(seconds) + " robot-info");
  }

  static std::string skip_;
  fs::path dir_;
};

std::string UnitOnFastDds::skip_;

TEST_F(UnitOnFastDds, AnswersRootOnEitherLocalhostSettingAndStaysOnLoopbackWhenAsked) {
  const char * domain = std::getenv("ROS_DOMAIN_ID");
  const struct {
    const char * localhost_only;  // the site's, for the unit
    bool peer_finds_it;
  } cases[] = {
      {"ROS_LOCALHOST_ONLY=1", false}, {"ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST", false}, {"", true}};
  for (const auto & c : cases) {
    SCOPED_TRACE(*c.localhost_only ? c.localhost_only : "loopback not asked for");
    const fs::path root = dir_ / std::to_string(&c - cases);
    NodeRun node(root, AsTheUnit(root, std::string("ROS_DOMAIN_ID=") + (domain ? domain : "0") +
                                           " RMW_IMPLEMENTATION=rmw_fastrtps_cpp " + c.localhost_only));
    ASSERT_TRUE(node.WaitReady()) << node.Output();

    // Root asks for loopback too, in the variable its distribution reads,
    // whichever the site wrote for the unit.
    const Result answer = Call("env -u ROS_LOCALHOST_ONLY -u ROS_AUTOMATIC_DISCOVERY_RANGE",
                               c.peer_finds_it ? "" : data_center_test::kLoopbackOnly, 10);
    EXPECT_EQ(answer.status, 0) << answer.output;
    EXPECT_NE(answer.output.find("code: 0\n"), std::string::npos) << answer.output;

    // Another host's view: UDP on every interface.
    const Result peer =
        Call("ip netns exec " + kPeer,
             std::string(data_center_test::kEveryInterface) + " FASTDDS_BUILTIN_TRANSPORTS=UDPv4",
             c.peer_finds_it ? 10 : 3);
    if (c.peer_finds_it) {
      EXPECT_EQ(peer.status, 0) << peer.output;
    } else {
      EXPECT_NE(peer.output.find("not available"), std::string::npos) << peer.output;
    }
    // The launcher gave the node loopback in the variable its distribution
    // reads, so rcl had nothing to warn about.
    EXPECT_EQ(node.Output().find("deprecated"), std::string::npos) << node.Output();
    EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Output();
  }
}

// A site's own UDP profile, named in either variable: Humble's and Jazzy's
// Fast DDS read only FASTRTPS_DEFAULT_PROFILES_FILE, so the launcher must hand
// a profile named only in FASTDDS_DEFAULT_PROFILES_FILE on under that name
// (the node would otherwise run on shared memory and root would get no
// answer), and, with both set, leave the one Fast DDS reads in force.
TEST_F(UnitOnFastDds, AnswersRootWithTheSitesOwnUdpProfileInEitherName) {
  const char * domain = std::getenv("ROS_DOMAIN_ID");
  const struct {
    const char * what;
    std::string site;       // the profile variables, "$PROFILE" for the site's file
    const char * launcher;  // what the launcher says about them
  } cases[] = {
      {"the old name", "FASTRTPS_DEFAULT_PROFILES_FILE=$PROFILE", "with the site's own profile"},
      {"the new name only", "FASTDDS_DEFAULT_PROFILES_FILE=$PROFILE", "is handed on as that"},
      {"both, the new one naming no file",
       "FASTRTPS_DEFAULT_PROFILES_FILE=$PROFILE FASTDDS_DEFAULT_PROFILES_FILE=/nonexistent.xml",
       "(/nonexistent.xml) is not read"},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path root = dir_ / ("site" + std::to_string(&c - cases));
    fs::create_directories(root);
    const fs::path profile = root / "site_udp.xml";
    std::ofstream(profile) << R"(<?xml version="1.0" encoding="UTF-8"?>
<profiles xmlns="http://www.eprosima.com/XMLSchemas/fastRTPS_Profiles">
  <transport_descriptors>
    <transport_descriptor><transport_id>site_udp</transport_id><type>UDPv4</type></transport_descriptor>
  </transport_descriptors>
  <participant profile_name="site" is_default_profile="true">
    <rtps>
      <userTransports><transport_id>site_udp</transport_id></userTransports>
      <useBuiltinTransports>false</useBuiltinTransports>
    </rtps>
  </participant>
</profiles>
)";
    std::string site = c.site;
    site.replace(site.find("$PROFILE"), 8, profile.string());
    // Every interface: rmw_fastrtps_cpp adds shared memory to any profile for loopback.
    NodeRun node(root,
                 AsTheUnit(root, std::string("ROS_DOMAIN_ID=") + (domain ? domain : "0") +
                                     " RMW_IMPLEMENTATION=rmw_fastrtps_cpp ROS_LOCALHOST_ONLY=0 " + site));
    ASSERT_TRUE(node.WaitReady()) << node.Output();
    const Result answer = Call("env -u ROS_LOCALHOST_ONLY -u ROS_AUTOMATIC_DISCOVERY_RANGE", "", 10);
    EXPECT_EQ(answer.status, 0) << answer.output << node.Output();
    EXPECT_NE(answer.output.find("code: 0\n"), std::string::npos) << answer.output;
    EXPECT_NE(node.Output().find(c.launcher), std::string::npos) << node.Output();
    EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Output();
  }
}

}  // namespace
