// SPDX-License-Identifier: Apache-2.0
// Loopback only, in the variable the ROS 2 at hand reads. Jazzy (rclcpp 28)
// reads ROS_AUTOMATIC_DISCOVERY_RANGE; it still honours ROS_LOCALHOST_ONLY,
// but warns twice at every init whenever that is set at all. Humble and the
// standalone build read ROS_LOCALHOST_ONLY only.
#ifndef DATA_CENTER__TEST__LOOPBACK_ONLY_HPP_
#define DATA_CENTER__TEST__LOOPBACK_ONLY_HPP_

#include <rclcpp/version.h>

#include <cstdlib>

namespace data_center_test {

#if RCLCPP_VERSION_GTE(28, 0, 0)
// As environment assignments for a command line.
constexpr const char * kLoopbackOnly = "ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST";
constexpr const char * kEveryInterface = "ROS_AUTOMATIC_DISCOVERY_RANGE=SUBNET";

inline void UseLoopbackOnly() {
  unsetenv("ROS_LOCALHOST_ONLY");
  setenv("ROS_AUTOMATIC_DISCOVERY_RANGE", "LOCALHOST", 1);
}
#else
constexpr const char * kLoopbackOnly = "ROS_LOCALHOST_ONLY=1";
constexpr const char * kEveryInterface = "ROS_LOCALHOST_ONLY=0";

inline void UseLoopbackOnly() {
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  unsetenv("ROS_AUTOMATIC_DISCOVERY_RANGE");
}
#endif

}  // namespace data_center_test

#endif  // DATA_CENTER__TEST__LOOPBACK_ONLY_HPP_
