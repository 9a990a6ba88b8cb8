// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_
#define RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <stdexcept>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/utilities.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp {
namespace executors {

// The part of rclcpp's executor that runs a callback group of its own, so
// that a caller can wait for its client's answers whether or not the node
// spins elsewhere: add_callback_group (one group, made with
// automatically_add_to_executor_with_node = false) and
// spin_until_future_complete, which runs that group's callbacks on the
// calling thread.
class SingleThreadedExecutor {
 public:
  SingleThreadedExecutor() = default;
  virtual ~SingleThreadedExecutor();
  SingleThreadedExecutor(const SingleThreadedExecutor &) = delete;
  SingleThreadedExecutor & operator=(const SingleThreadedExecutor &) = delete;

  // Throws std::runtime_error when the group belongs to an executor already.
  virtual void add_callback_group(CallbackGroup::SharedPtr group_ptr,
                                  node_interfaces::NodeBaseInterface::SharedPtr node_ptr, bool notify = true);

  template <typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
  FutureReturnCode spin_until_future_complete(
      const FutureT & future,
      std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1)) {
    using std::chrono::nanoseconds;
    if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      return FutureReturnCode::SUCCESS;
    }
    const auto limit = std::chrono::duration_cast<nanoseconds>(timeout);
    const auto end = std::chrono::steady_clock::now() + std::max(limit, nanoseconds(0));
    if (spinning_.exchange(true)) {
      throw std::runtime_error("spin_until_future_complete() called while already spinning");
    }
    struct Reset {
      std::atomic<bool> & spinning;
      ~Reset() { spinning.store(false); }
    } reset{spinning_};
    nanoseconds left = limit;
    while (ok()) {
      if (wait_set_) {
        rclcpp_compat::wait_and_execute(*wait_set_, left);
      } else {  // nothing to run: someone else may complete the future
        future.wait_for(limit < nanoseconds(0) ? std::chrono::milliseconds(100)
                                               : std::min<nanoseconds>(left, std::chrono::milliseconds(100)));
      }
      if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        return FutureReturnCode::SUCCESS;
      }
      if (limit < nanoseconds(0)) {
        continue;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) {
        return FutureReturnCode::TIMEOUT;
      }
      left = std::chrono::duration_cast<nanoseconds>(end - now);
    }
    return FutureReturnCode::INTERRUPTED;
  }

 private:
  CallbackGroup::SharedPtr group_;
  std::shared_ptr<rclcpp_compat::NodeCore::WaitSet> wait_set_;
  std::atomic<bool> spinning_{false};
};

}  // namespace executors
}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_
