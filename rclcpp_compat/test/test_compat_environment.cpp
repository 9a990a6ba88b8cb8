// SPDX-License-Identifier: Apache-2.0
// ROS_DOMAIN_ID, ROS_LOCALHOST_ONLY and CYCLONEDDS_URI as the context reads
// them. A real ROS 2 node must land on the same domain from the same
// environment, or the two never meet. No participant is created here.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <rclcpp/rclcpp.hpp>
#include <string>

#include "context/environment.hpp"

namespace {

using rclcpp_compat::domain_config;
using rclcpp_compat::domain_id_from_env;

const char kLoopbackPart[] =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>,";

class Environment : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("ROS_DOMAIN_ID");
    unsetenv("ROS_LOCALHOST_ONLY");
    unsetenv("CYCLONEDDS_URI");
  }
  static uint32_t domain(const char * text) {
    setenv("ROS_DOMAIN_ID", text, 1);
    return domain_id_from_env();
  }
};

TEST_F(Environment, DomainIdIsReadAsRclReadsIt) {
  unsetenv("ROS_DOMAIN_ID");
  EXPECT_EQ(domain_id_from_env(), 0u);
  EXPECT_EQ(domain(""), 0u);
  EXPECT_EQ(domain("0"), 0u);
  EXPECT_EQ(domain("42"), 42u);
  EXPECT_EQ(domain("232"), 232u);
  // strtoul with base 0: hexadecimal and octal as well.
  EXPECT_EQ(domain("0x10"), 16u);
  EXPECT_EQ(domain("010"), 8u);
}

TEST_F(Environment, InvalidDomainIdsAreRefused) {
  for (const char * text : {"abc", "x1", "4294967295", "99999999999999999999999"}) {
    EXPECT_THROW(domain(text), rclcpp::exceptions::RCLError) << text;
  }
}

TEST_F(Environment, InitFailsOnAnInvalidDomainId) {
  setenv("ROS_DOMAIN_ID", "not-a-number", 1);
  const char * argv[] = {"compat_environment_test"};
  EXPECT_THROW(rclcpp::init(1, argv), rclcpp::exceptions::RCLError);
  EXPECT_FALSE(rclcpp::ok());
}

TEST_F(Environment, LoopbackOnlyUnlessLocalhostOnlyIsZero) {
  unsetenv("ROS_LOCALHOST_ONLY");
  EXPECT_TRUE(rclcpp_compat::localhost_only_from_env());
  for (const char * text : {"1", "", "true", "00"}) {
    setenv("ROS_LOCALHOST_ONLY", text, 1);
    EXPECT_TRUE(rclcpp_compat::localhost_only_from_env()) << text;
  }
  setenv("ROS_LOCALHOST_ONLY", "0", 1);
  EXPECT_FALSE(rclcpp_compat::localhost_only_from_env());
}

// Byte for byte what rmw_cyclonedds_cpp composes: nothing may be added to the
// loopback part (multicast off or fixed peers break discovery with real
// nodes), and CYCLONEDDS_URI follows it.
TEST_F(Environment, DomainConfigurationIsTheOneOfRos2) {
  unsetenv("CYCLONEDDS_URI");
  EXPECT_EQ(domain_config(true), kLoopbackPart);
  EXPECT_EQ(domain_config(false), "");
  setenv("CYCLONEDDS_URI", "file:///etc/cyclone.xml", 1);
  EXPECT_EQ(domain_config(true), std::string(kLoopbackPart) + "file:///etc/cyclone.xml");
  EXPECT_EQ(domain_config(false), "file:///etc/cyclone.xml");
}

}  // namespace
