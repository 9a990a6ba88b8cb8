// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__SERVICE_HPP_
#define RCLCPP__SERVICE_HPP_

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp_compat/core.hpp"
#include "rmw/types.h"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace rclcpp {

class Node;

// Made by Node::create_service only.
template <typename ServiceT>
class Service : private rclcpp_compat::ServiceCore {
 public:
  using SharedPtr = std::shared_ptr<Service<ServiceT>>;
  using Request = typename ServiceT::Request;
  using Response = typename ServiceT::Response;
  using SharedRequest = std::shared_ptr<Request>;
  using SharedResponse = std::shared_ptr<Response>;
  using CallbackType = std::function<void(std::shared_ptr<rmw_request_id_t>, SharedRequest, SharedResponse)>;

  const char * get_service_name() const { return service_name().c_str(); }

 protected:
  void handle(const void * sample, const rclcpp_compat::RequestId & id) override {
    auto request = std::make_shared<Request>();
    if (!read_request(sample, request.get())) {
      return;  // cannot happen for data the middleware accepted, short of memory
    }
    auto response = std::make_shared<Response>();
    auto request_header = std::make_shared<rmw_request_id_t>();
    std::memcpy(request_header->writer_guid, &id.header.guid, sizeof id.header.guid);
    request_header->sequence_number = id.header.seq;
    callback_(request_header, request, response);
    send_response(id, std::move(response));
  }

 private:
  friend class Node;
  template <typename CallbackT>
  Service(rclcpp_compat::NodeCore & node, const std::string & service_name, CallbackT && callback,
          const rmw_qos_profile_t & qos)
      : rclcpp_compat::ServiceCore(
            node, service_name, qos,
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Request>(),
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Response>()),
        callback_(wrap(std::forward<CallbackT>(callback))) {}

  // Both callback forms of rclcpp: (request, response) and
  // (request header, request, response); a returned value is dropped.
  template <typename CallbackT>
  static CallbackType wrap(CallbackT && callback) {
    using F = std::decay_t<CallbackT>;
    if constexpr (std::is_invocable_v<F &, SharedRequest, SharedResponse>) {
      return [cb = F(std::forward<CallbackT>(callback))](std::shared_ptr<rmw_request_id_t>, SharedRequest req,
                                                         SharedResponse resp) mutable {
        cb(std::move(req), std::move(resp));
      };
    } else {
      static_assert(
          std::is_invocable_v<F &, std::shared_ptr<rmw_request_id_t>, SharedRequest, SharedResponse>,
          "service callback must take (request, response) or (header, request, response)");
      return [cb = F(std::forward<CallbackT>(callback))](std::shared_ptr<rmw_request_id_t> header,
                                                         SharedRequest req, SharedResponse resp) mutable {
        cb(std::move(header), std::move(req), std::move(resp));
      };
    }
  }

  CallbackType callback_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SERVICE_HPP_
