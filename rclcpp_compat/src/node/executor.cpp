// SPDX-License-Identifier: Apache-2.0
#include <memory>
#include <stdexcept>
#include <utility>

#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp_compat/api_checks.hpp"

namespace rclcpp {
namespace executors {

SingleThreadedExecutor::~SingleThreadedExecutor() {
  if (group_) {
    rclcpp_compat::group_core(*group_).dissociate_from_executor();
  }
}

void SingleThreadedExecutor::add_callback_group(CallbackGroup::SharedPtr group_ptr,
                                                node_interfaces::NodeBaseInterface::SharedPtr node_ptr,
                                                bool /*notify*/) {
  rclcpp_compat::check_executor_callback_group(group_ptr.get(), group_ != nullptr);
  if (!node_ptr) {
    throw std::invalid_argument("rclcpp_compat: add_callback_group: no node given");
  }
  auto & core = rclcpp_compat::group_core(*group_ptr);
  if (!core.associate_with_executor()) {
    throw std::runtime_error("Callback group has already been added to an executor.");
  }
  wait_set_ = core.wait_set(rclcpp_compat::node_wait_set(*node_ptr));
  group_ = std::move(group_ptr);
}

}  // namespace executors
}  // namespace rclcpp
