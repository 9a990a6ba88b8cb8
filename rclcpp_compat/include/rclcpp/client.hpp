// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__CLIENT_HPP_
#define RCLCPP__CLIENT_HPP_

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "rclcpp_compat/core.hpp"
#include "rmw/types.h"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace rclcpp {

class Node;

namespace detail {
template <typename FutureT>
struct FutureAndRequestId {
  FutureT future;
  int64_t request_id;

  FutureAndRequestId(FutureT impl, int64_t req_id) : future(std::move(impl)), request_id(req_id) {}

  auto get() { return this->future.get(); }
  template <class Rep, class Period>
  std::future_status wait_for(const std::chrono::duration<Rep, Period> & timeout_duration) const {
    return this->future.wait_for(timeout_duration);
  }
};
}  // namespace detail

// Made by Node::create_client only.
template <typename ServiceT>
class Client : private rclcpp_compat::ClientCore {
 public:
  using SharedPtr = std::shared_ptr<Client<ServiceT>>;
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = std::shared_ptr<Request>;
  using SharedResponse = std::shared_ptr<Response>;
  using Promise = std::promise<SharedResponse>;
  using Future = std::future<SharedResponse>;
  using SharedFuture = std::shared_future<SharedResponse>;
  using CallbackType = std::function<void(SharedFuture)>;

  struct FutureAndRequestId : detail::FutureAndRequestId<Future> {
    using detail::FutureAndRequestId<Future>::FutureAndRequestId;
  };
  struct SharedFutureAndRequestId : detail::FutureAndRequestId<SharedFuture> {
    using detail::FutureAndRequestId<SharedFuture>::FutureAndRequestId;
  };

  using rclcpp_compat::ClientCore::service_is_ready;

  const char * get_service_name() const { return service_name().c_str(); }

  template <typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_service(
      std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1)) {
    return wait_for_service_nanoseconds(std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  FutureAndRequestId async_send_request(SharedRequest request) {
    Promise promise;
    auto future = promise.get_future();
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t seq = send_request(request.get());
    pending_.emplace(seq, Pending{std::move(promise), nullptr});
    return FutureAndRequestId(std::move(future), seq);
  }

  template <typename CallbackT>
  SharedFutureAndRequestId async_send_request(SharedRequest request, CallbackT && cb) {
    Promise promise;
    SharedFuture future = promise.get_future().share();
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t seq = send_request(request.get());
    pending_.emplace(seq,
                     Pending{std::move(promise), std::make_shared<std::pair<SharedFuture, CallbackType>>(
                                                     future, CallbackType(std::forward<CallbackT>(cb)))});
    return SharedFutureAndRequestId(std::move(future), seq);
  }

  bool remove_pending_request(int64_t request_id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.erase(request_id) != 0u;
  }

 protected:
  void on_response(const void * sample, int64_t seq) override {
    // Read before locking: a large reply must not hold up async_send_request.
    auto response = std::make_shared<Response>();
    if (!read_response(sample, response.get())) {
      return;  // unreadable: the request stays pending, as if no reply had come
    }
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = pending_.find(seq);
    if (it == pending_.end()) {
      return;  // not ours any more (removed, or a duplicate)
    }
    Pending pending = std::move(it->second);
    pending_.erase(it);
    lock.unlock();
    pending.promise.set_value(std::move(response));
    if (pending.callback) {
      pending.callback->second(pending.callback->first);
    }
  }

 private:
  friend class Node;
  Client(rclcpp_compat::NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
         std::shared_ptr<rclcpp_compat::NodeCore::WaitSet> group_wait_set)
      : rclcpp_compat::ClientCore(
            node, service_name, qos,
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Request>(),
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Response>(),
            std::move(group_wait_set)) {}

  struct Pending {
    Promise promise;
    std::shared_ptr<std::pair<SharedFuture, CallbackType>> callback;
  };
  std::mutex mutex_;
  std::map<int64_t, Pending> pending_;
};

}  // namespace rclcpp

#endif  // RCLCPP__CLIENT_HPP_
