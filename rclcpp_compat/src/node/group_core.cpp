// SPDX-License-Identifier: Apache-2.0
#include <atomic>
#include <memory>
#include <mutex>

#include "node/node_wait_set.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct GroupCore::Impl {
  std::mutex mutex;
  std::shared_ptr<NodeCore::WaitSet> wait_set;
  std::atomic<bool> associated{false};
};

GroupCore::GroupCore() : impl_(new Impl) {}
GroupCore::~GroupCore() = default;

std::shared_ptr<NodeCore::WaitSet> GroupCore::wait_set(
    const std::shared_ptr<NodeCore::WaitSet> & node_wait_set) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (!impl_->wait_set) {
    impl_->wait_set = make_wait_set(node_wait_set->participant);
  }
  return impl_->wait_set;
}

bool GroupCore::associate_with_executor() {
  return !impl_->associated.exchange(true);
}

void GroupCore::dissociate_from_executor() {
  impl_->associated.store(false);
}

}  // namespace rclcpp_compat
