// SPDX-License-Identifier: Apache-2.0
// The subset of rclcpp (ROS 2 Humble) that this project uses, over Cyclone
// DDS, for machines without ROS 2. Same names, signatures and meaning.
#ifndef RCLCPP__RCLCPP_HPP_
#define RCLCPP__RCLCPP_HPP_

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp/utilities.hpp"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

#endif  // RCLCPP__RCLCPP_HPP_
