// SPDX-License-Identifier: Apache-2.0
// The rclcpp version whose API the layer provides: Humble's. Code that picks
// between rclcpp APIs at compile time takes Humble's branch here.
#ifndef RCLCPP__VERSION_H_
#define RCLCPP__VERSION_H_

#define RCLCPP_VERSION_MAJOR (16)
#define RCLCPP_VERSION_MINOR (0)
#define RCLCPP_VERSION_PATCH (0)
#define RCLCPP_VERSION_STR "16.0.0"

#define RCLCPP_VERSION_GTE(major, minor, patch) \
  (((major) < RCLCPP_VERSION_MAJOR)   ? true    \
   : ((major) > RCLCPP_VERSION_MAJOR) ? false   \
   : ((minor) < RCLCPP_VERSION_MINOR) ? true    \
   : ((minor) > RCLCPP_VERSION_MINOR) ? false   \
   : ((patch) < RCLCPP_VERSION_PATCH) ? true    \
   : ((patch) > RCLCPP_VERSION_PATCH) ? false   \
                                      : true)

#endif  // RCLCPP__VERSION_H_
