// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__NODE_HPP_
#define RCLCPP__NODE_HPP_

#include <memory>
#include <string>
#include <utility>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/node_interfaces/node_base_interface.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp_compat/api_checks.hpp"
#include "rclcpp_compat/core.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp {
class Node;
}  // namespace rclcpp

namespace rclcpp_compat {
// The executor functions reach the node's wait loop through this; rclcpp's
// Node has no such member, so it is not one here either.
NodeCore & node_core(rclcpp::Node & node);
}  // namespace rclcpp_compat

namespace rclcpp {

class Node : public std::enable_shared_from_this<Node> {
 public:
  using SharedPtr = std::shared_ptr<Node>;

  template <typename... Args>
  static SharedPtr make_shared(Args &&... args) {
    return std::make_shared<Node>(std::forward<Args>(args)...);
  }

  explicit Node(const std::string & node_name, const NodeOptions & options = NodeOptions())
      : Node(node_name, "", options) {}
  Node(const std::string & node_name, const std::string & namespace_,
       const NodeOptions & options = NodeOptions())
      : core_(accept(node_name, options), namespace_),
        node_base_(new node_interfaces::NodeBaseInterface(core_.wait_set())) {}
  virtual ~Node() = default;

  const char * get_name() const { return core_.name().c_str(); }
  const char * get_namespace() const { return core_.ns().c_str(); }
  std::string get_fully_qualified_name() const { return core_.fully_qualified_name(); }

  CallbackGroup::SharedPtr create_callback_group(CallbackGroupType group_type,
                                                 bool automatically_add_to_executor_with_node = true) {
    return std::make_shared<CallbackGroup>(group_type, automatically_add_to_executor_with_node);
  }

  node_interfaces::NodeBaseInterface::SharedPtr get_node_base_interface() { return node_base_; }

  template <typename ServiceT, typename CallbackT>
  typename Service<ServiceT>::SharedPtr create_service(
      const std::string & service_name, CallbackT && callback,
      const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
      CallbackGroup::SharedPtr group = nullptr) {
    rclcpp_compat::check_callback_group(group.get(), "service " + service_name);
    rclcpp_compat::check_qos(qos_profile, "service " + service_name);
    return typename Service<ServiceT>::SharedPtr(new Service<ServiceT>(
        core_, core_.resolve_service_name(service_name), std::forward<CallbackT>(callback), qos_profile));
  }

  template <typename ServiceT>
  typename Client<ServiceT>::SharedPtr create_client(
      const std::string & service_name,
      const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
      CallbackGroup::SharedPtr group = nullptr) {
    rclcpp_compat::check_client_callback_group(group.get(), "client " + service_name);
    rclcpp_compat::check_qos(qos_profile, "client " + service_name);
    return typename Client<ServiceT>::SharedPtr(
        new Client<ServiceT>(core_, core_.resolve_service_name(service_name), qos_profile,
                             group ? rclcpp_compat::group_core(*group).wait_set(core_.wait_set()) : nullptr));
  }

 private:
  friend rclcpp_compat::NodeCore & rclcpp_compat::node_core(Node & node);

  static const std::string & accept(const std::string & node_name, const NodeOptions & options) {
    rclcpp_compat::check_node_options(options);
    return node_name;
  }

  rclcpp_compat::NodeCore core_;
  node_interfaces::NodeBaseInterface::SharedPtr node_base_;
};

}  // namespace rclcpp

namespace rclcpp_compat {
inline NodeCore & node_core(rclcpp::Node & node) {
  return node.core_;
}
}  // namespace rclcpp_compat

#endif  // RCLCPP__NODE_HPP_
