// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__EXECUTORS_HPP_
#define RCLCPP__EXECUTORS_HPP_

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>

#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {

// Runs the node's callbacks on this thread, one at a time in arrival order,
// until the context is shut down.
void spin(Node::SharedPtr node_ptr);
// Runs what is ready now, without waiting.
void spin_some(Node::SharedPtr node_ptr);

template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
FutureReturnCode spin_until_future_complete(
    Node::SharedPtr node_ptr, const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
  using std::chrono::nanoseconds;
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration_cast<nanoseconds>(timeout);
  auto & core = rclcpp_compat::node_core(*node_ptr);
  for (;;) {
    if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      return FutureReturnCode::SUCCESS;
    }
    if (!ok()) {
      return FutureReturnCode::INTERRUPTED;
    }
    nanoseconds wait(-1);
    if (limit >= nanoseconds(0)) {
      const auto elapsed = std::chrono::steady_clock::now() - start;
      if (elapsed >= limit) {
        return FutureReturnCode::TIMEOUT;
      }
      wait = std::chrono::duration_cast<nanoseconds>(limit - elapsed);
    }
    core.wait_and_execute(wait);
  }
}

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS_HPP_
