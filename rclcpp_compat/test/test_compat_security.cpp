// SPDX-License-Identifier: Apache-2.0
// The ROS_SECURITY_* variables and the enclave as rcl Humble reads them, and
// the participant properties rmw_cyclonedds_cpp Humble makes of the enclave's
// files. Only which files exist matters here; no participant is created.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "rclcpp/exceptions.hpp"
#include "rclcpp_compat/security.hpp"

namespace {

namespace fs = std::filesystem;
using rclcpp_compat::security_from_env;

const char * const kFiles[] = {"identity_ca.cert.pem",    "cert.pem",       "key.pem",
                               "permissions_ca.cert.pem", "governance.p7s", "permissions.p7s"};
const char * const kVariables[] = {"ROS_SECURITY_ENABLE", "ROS_SECURITY_STRATEGY", "ROS_SECURITY_KEYSTORE",
                                   "ROS_SECURITY_ENCLAVE_OVERRIDE"};

class Security : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/compat_security_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    keystore_ = pattern;
    for (const char * enclave : {"", "/data_center", "/robot/arm"}) {
      const fs::path dir = keystore_ + "/enclaves" + enclave;
      fs::create_directories(dir);
      for (const char * file : kFiles) {
        std::ofstream(dir / file) << "x";
      }
    }
  }
  void TearDown() override {
    for (const char * name : kVariables) {
      unsetenv(name);
    }
    fs::remove_all(keystore_);
  }
  void Set(const std::map<std::string, std::string> & env) {
    for (const auto & v : env) {
      setenv(v.first.c_str(), v.second.c_str(), 1);
    }
  }
  std::string keystore_;
};

TEST_F(Security, OnlyTrueEnablesItAndTheEnclaveFolderIsFoundAsRclFindsIt) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string enclave;
    std::string folder;  // relative to the keystore; "" when security stays off
  } cases[] = {
      {{}, "/data_center", ""},
      {{{"ROS_SECURITY_ENABLE", "True"}}, "/data_center", ""},
      {{{"ROS_SECURITY_ENABLE", "1"}}, "/data_center", ""},
      {{{"ROS_SECURITY_ENABLE", "true"}}, "/data_center", "/enclaves/data_center"},
      {{{"ROS_SECURITY_ENABLE", "true"}}, "/", "/enclaves"},
      {{{"ROS_SECURITY_ENABLE", "true"}}, "/robot/arm", "/enclaves/robot/arm"},
      {{{"ROS_SECURITY_ENABLE", "true"}, {"ROS_SECURITY_ENCLAVE_OVERRIDE", "/robot/arm"}},
       "/data_center",
       "/enclaves/robot/arm"},
  };
  for (const auto & c : cases) {
    for (const char * name : kVariables) {
      unsetenv(name);
    }
    Set(c.env);
    setenv("ROS_SECURITY_KEYSTORE", keystore_.c_str(), 1);
    std::ostringstream warnings;
    const auto options = security_from_env(c.enclave, warnings);
    SCOPED_TRACE(c.enclave + " -> " + c.folder);
    EXPECT_EQ(warnings.str(), "");
    if (c.folder.empty()) {
      EXPECT_FALSE(options.enabled());
      EXPECT_TRUE(options.properties.empty());
      continue;
    }
    const std::string dir = keystore_ + c.folder;
    EXPECT_EQ(options.enclave_dir, dir);
    std::map<std::string, std::string> properties(options.properties.begin(), options.properties.end());
    EXPECT_EQ(properties.size(), 15u);
    EXPECT_EQ(properties["dds.sec.auth.identity_certificate"], "file:" + dir + "/cert.pem");
    EXPECT_EQ(properties["dds.sec.access.governance"], "file:" + dir + "/governance.p7s");
    EXPECT_EQ(properties["dds.sec.access.library.path"], "dds_security_ac");
    EXPECT_EQ(properties.count("org.eclipse.cyclonedds.sec.auth.crl"), 0u);
  }
  // A revocation list is passed on when the enclave has one.
  std::ofstream(keystore_ + "/enclaves/data_center/crl.pem") << "x";
  unsetenv("ROS_SECURITY_ENCLAVE_OVERRIDE");
  std::ostringstream warnings;
  const auto options = security_from_env("/data_center", warnings);
  EXPECT_EQ(options.properties.back(), std::make_pair(std::string("org.eclipse.cyclonedds.sec.auth.crl"),
                                                      "file:" + keystore_ + "/enclaves/data_center/crl.pem"));
}

// A missing folder or file under each strategy runs end to end
// (test_security); here what only the variables decide: no keystore at all,
// and the strategy's exact spelling.
TEST_F(Security, OnlyEnforceExactlyStopsInitWithoutAKeystore) {
  const std::string problem = "SECURITY ERROR: ROS_SECURITY_KEYSTORE is not set";
  Set({{"ROS_SECURITY_ENABLE", "true"}, {"ROS_SECURITY_STRATEGY", "Enforce"}});
  std::ostringstream warnings;
  try {
    security_from_env("/data_center", warnings);
    ADD_FAILURE() << "no error under Enforce";
  } catch (const rclcpp::exceptions::RCLError & e) {
    EXPECT_EQ(std::string(e.what()).rfind("failed to initialize rcl: " + problem, 0), 0u) << e.what();
  }
  setenv("ROS_SECURITY_STRATEGY", "enforce", 1);
  EXPECT_FALSE(security_from_env("/data_center", warnings).enabled());
  EXPECT_NE(warnings.str().find(problem), std::string::npos) << warnings.str();
  EXPECT_NE(warnings.str().find("running without security"), std::string::npos) << warnings.str();
}

TEST_F(Security, AnEnclaveNameIsAnAbsoluteRosNameEvenWithSecurityOff) {
  for (const char * name : {"data_center", "/data_center/", "//x", "/1x", "/a-b", ""}) {
    std::ostringstream warnings;
    EXPECT_THROW(security_from_env(name, warnings), rclcpp::exceptions::RCLError) << name;
  }
}

}  // namespace
