// SPDX-License-Identifier: Apache-2.0
// ROS 2 security through the real node and client: a keystore made with
// openssl, the ROS_SECURITY_* variables and --enclave, as a ROS 2 Humble
// system is secured. Each test process runs in a network namespace of its
// own, so that it can watch everything that crosses its loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "private_network.hpp"
#include "proto/data_center.pb.h"

namespace {

const int kDomain = e2e::TestDomain(0);
using Env = std::map<std::string, std::string>;

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(e2e::EnterPrivateNetwork(), "");
    ASSERT_EQ(e2e::SetLoopback(false), "");
  }
};
[[maybe_unused]] ::testing::Environment * const g_environment =
    ::testing::AddGlobalTestEnvironment(new Environment);

// Every packet that crosses `lo` while it lives, payloads concatenated.
class LoopbackCapture {
 public:
  LoopbackCapture() {
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd_ < 0) {
      error_ = std::string("AF_PACKET socket: ") + std::strerror(errno);
      return;
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      error_ = std::string("bind to lo: ") + std::strerror(errno);
      return;
    }
    reader_ = std::thread([this] {
      std::vector<char> packet(65536);
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
          const ssize_t n = recv(fd_, packet.data(), packet.size(), 0);
          if (n > 0) {
            bytes_.append(packet.data(), static_cast<size_t>(n));
          }
        }
      }
    });
  }
  ~LoopbackCapture() {
    Stop();
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  const std::string & error() const { return error_; }
  // Stops capturing; what was seen.
  const std::string & Stop() {
    stop_ = true;
    if (reader_.joinable()) {
      reader_.join();
    }
    return bytes_;
  }

 private:
  int fd_ = -1;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::string bytes_;
};

// One keystore for the whole process: the node's enclave, a caller's, and
// the ones that must not get in.
class Sros2 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    keystore_dir_ = new e2e::TempDir();
    keystore_error_ = e2e::MakeKeystore(Keystore(), {"/data_center", "/caller", "/denied:deny-request",
                                                     "/stranger:other-ca", "/expired:expired"});
  }
  static void TearDownTestSuite() {
    delete keystore_dir_;
    keystore_dir_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(keystore_error_, ""); }

  static std::string Keystore() { return keystore_dir_->path() + "/keystore"; }
  static Env Secured(const std::string & strategy = "Enforce") {
    return {{"ROS_SECURITY_ENABLE", "true"},
            {"ROS_SECURITY_STRATEGY", strategy},
            {"ROS_SECURITY_KEYSTORE", Keystore()}};
  }
  // The node with `env` and `--enclave enclave` (none when empty).
  static e2e::NodeOptions Node(const Env & env, const std::string & enclave = "/data_center") {
    e2e::NodeOptions options;
    options.env = env;
    if (!enclave.empty()) {
      options.extra_args = {"--ros-args", "--enclave", enclave};
    }
    return options;
  }
  static e2e::Result Call(const Env & env, const std::string & enclave, std::vector<std::string> args) {
    if (!enclave.empty()) {
      args.insert(args.end(), {"--ros-args", "-e", enclave});
    }
    return e2e::Cli(kDomain, args, env);
  }

 private:
  static e2e::TempDir * keystore_dir_;
  static std::string keystore_error_;
};
e2e::TempDir * Sros2::keystore_dir_ = nullptr;
std::string Sros2::keystore_error_;

// Security on or off: the same answers to every command, and the station
// name sent with 10001 crosses the loopback in clear only without it.
class SecuredOrNot : public Sros2, public ::testing::WithParamInterface<bool> {};

TEST_P(SecuredOrNot, EveryCommandIsAnsweredAlikeAndOnlyUnsecuredTrafficShowsTheStationName) {
  const bool secured = GetParam();
  const Env env = secured ? Secured() : Env{};
  e2e::TempDir dir;
  e2e::NodeProcess node(kDomain, dir.path(), Node(env, secured ? "/data_center" : ""));
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const std::string caller = secured ? "/caller" : "";

  // The answers, command by command, as a person reads them.
  struct Case {
    std::vector<std::string> args;
    std::string first_line;
    std::string contains;
  } cases[] = {
      {{"robot-info"}, "code: 0", "work_hours: 3000"},
      {{"last-map"}, "code: 0", "payload: MapInfo (0 bytes)"},
      {{"call", "4242"}, "code: 10002", "payload: hex (0 bytes)"},
      {{"stations"}, "code: 0", "payload: BaseStationInfo (0 bytes)"},
  };
  for (const auto & c : cases) {
    const auto r = Call(env, caller, c.args);
    ASSERT_FALSE(e2e::Lines(r.out).empty()) << c.args[0] << ": " << r.err;
    EXPECT_EQ(e2e::Lines(r.out)[0], c.first_line) << r.out << r.err;
    EXPECT_NE(r.out.find(c.contains), std::string::npos) << r.out;
  }

  const std::string secret = "dock-" + std::to_string(getpid()) + "-behind-the-sofa";
  data_center::BaseStationInfo list;
  auto * pose = list.add_bs_pose();
  pose->set_map_id(5);
  pose->set_x(2.5);
  pose->set_map_id_str(secret);
  LoopbackCapture capture;
  ASSERT_EQ(capture.error(), "");
  const auto set = Call(env, caller, {"call", "10001", e2e::Hex(list.SerializeAsString())});
  const auto get = Call(env, caller, {"stations"});
  const std::string wire = capture.Stop();
  EXPECT_EQ(set.exit_status, 0) << set.out << set.err;
  EXPECT_NE(get.out.find("map_id_str: \"" + secret + "\""), std::string::npos) << get.out << get.err;
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), list.SerializeAsString());
  EXPECT_GT(wire.size(), 1000u) << "the capture saw no traffic";
  EXPECT_EQ(wire.find(secret) != std::string::npos, !secured) << wire.size() << " bytes captured";
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

INSTANTIATE_TEST_SUITE_P(Lo, SecuredOrNot, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> & info) {
                           return info.param ? "Secured" : "Unsecured";
                         });

TEST_F(Sros2, OnlyPeersOfTheKeystoreWithTheRightPermissionsAreServed) {
  e2e::TempDir dir;
  e2e::NodeProcess node(kDomain, dir.path(), Node(Secured()));
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  struct Refused {
    const char * who;
    Env env;
    std::string enclave;
    int exit_status;
    std::string says;
  } refused[] = {
      // Never discovers the secured node.
      {"unsecured", {}, "", 3, "not available within 2 s"},
      // Another CA's certificate: the node does not authenticate it.
      {"another CA", Secured(), "/stranger", 3, "not available within 2 s"},
      // Its own participant refuses what its grant denies, before sending.
      {"denied the request topic", Secured(), "/denied", 4, "Not Allowed By Security"},
      // Cyclone refuses an expired certificate of its own.
      {"expired", Secured(), "/expired", 4, "cannot create DDS participant"},
  };
  for (const auto & r : refused) {
    const auto result = Call(r.env, r.enclave, {"robot-info", "--timeout", "2"});
    EXPECT_EQ(result.exit_status, r.exit_status) << r.who << ": " << result.out << result.err;
    EXPECT_EQ(result.out, "") << r.who;
    EXPECT_NE(result.err.find(r.says), std::string::npos) << r.who << ": " << result.err;
  }
  EXPECT_TRUE(node.Running());
  const auto served = Call(Secured(), "/caller", {"robot-info"});
  EXPECT_EQ(served.exit_status, 0) << served.out << served.err;
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

TEST_F(Sros2, EnforceWithoutAUsableEnclaveRefusesToStartAndPermissiveRunsUnsecured) {
  e2e::TempDir copy;
  // The node's enclave without its certificate.
  ASSERT_EQ(system(("cp -r '" + Keystore() + "' '" + copy.path() + "/ks' && rm '" + copy.path() +
                    "/ks/enclaves/data_center/cert.pem'")
                       .c_str()),
            0);
  // The layer finds missing files at init; Humble's rcl finds the folder
  // there, but its middleware misses the files only when the node is made.
  const bool humble = e2e::TestingRobotBuild();
  struct Case {
    const char * what;
    std::string keystore;
    std::string enclave;
    std::string says;
  } cases[] = {
      {"no keystore", "/nonexistent", "/data_center",
       "failed to initialize rcl: SECURITY ERROR: directory '/nonexistent/enclaves/data_center' does not "
       "exist."},
      {"no enclave folder", Keystore(), "/nobody",
       "failed to initialize rcl: SECURITY ERROR: directory '" + Keystore() +
           "/enclaves/nobody' does not exist."},
      {"no certificate", copy.path() + "/ks", "/data_center",
       e2e::TestingJazzyNode() ? "failed to initialize rcl node: error not set"
       : humble                ? "failed to initialize rcl node: rcl node's rmw handle is invalid"
                : "failed to initialize rcl: SECURITY ERROR: could not find all security files in '" +
                      copy.path() + "/ks/enclaves/data_center' (missing: cert.pem)."},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.what);
    Env env = Secured();
    env["ROS_SECURITY_KEYSTORE"] = c.keystore;
    e2e::TempDir dir;
    e2e::NodeProcess node(kDomain, dir.path(), Node(env, c.enclave));
    EXPECT_FALSE(node.WaitReady());
    EXPECT_NE(node.Stop(SIGTERM), 0);
    EXPECT_EQ(node.Stdout(), "");
    EXPECT_NE(node.Stderr().find(c.says), std::string::npos) << node.Stderr();

    // Any other strategy runs without security, as rcl does; the layer warns,
    // Humble does not.
    env["ROS_SECURITY_STRATEGY"] = "Permissive";
    e2e::TempDir permissive_dir;
    e2e::NodeProcess permissive(kDomain, permissive_dir.path(), Node(env, c.enclave));
    ASSERT_TRUE(permissive.WaitReady()) << permissive.Stderr();
    const std::string warning = "ROS_SECURITY_STRATEGY is not Enforce: running without security.";
    if (humble) {
      EXPECT_EQ(permissive.Stderr().find(warning), std::string::npos) << permissive.Stderr();
    } else {
      const std::string cause = c.says.substr(c.says.find("SECURITY ERROR"));
      EXPECT_NE(permissive.Stderr().find(cause + " " + warning), std::string::npos) << permissive.Stderr();
    }
    const auto r = Call({}, "", {"robot-info"});
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(permissive.Stop(SIGTERM), 0);
  }
}

}  // namespace
