// SPDX-License-Identifier: Apache-2.0
// The six parameter services of a default rclcpp Humble node
// (<node>/get_parameters, ...), answering as rclcpp's NodeParameters does for
// a node whose parameters are those rclcpp's Node declares: use_sim_time
// (false unless the command line overrides it), the read-only QoS of the
// /parameter_events publisher (qos_overrides./parameter_events.publisher.
// durability, history, depth, reliability) and, once use_sim_time has been
// true, the read-only QoS of the /clock subscription.
#ifndef RCLCPP_COMPAT__PARAMETERS__PARAMETER_SERVICES_HPP_
#define RCLCPP_COMPAT__PARAMETERS__PARAMETER_SERVICES_HPP_

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <rcl_interfaces/msg/list_parameters_result.hpp>
#include <rcl_interfaces/msg/parameter_descriptor.hpp>
#include <rcl_interfaces/msg/parameter_event.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <rcl_interfaces/msg/set_parameters_result.hpp>
#include <string>
#include <vector>

#include "endpoints/topic_endpoints.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

// The node's parameters and rclcpp's rules for them, without DDS.
class NodeParameterStore {
 public:
  using Parameter = rcl_interfaces::msg::Parameter;
  using Result = rcl_interfaces::msg::SetParametersResult;

  // Declares use_sim_time as rclcpp's TimeSource does, then the QoS
  // parameters of /parameter_events as rclcpp's Node does, taking values from
  // `overrides` (the command line's values for this node; other names are
  // ignored, as without allow_undeclared_parameters). Throws
  // rclcpp::exceptions::InvalidParameterTypeException for an override of
  // another type than the parameter's.
  explicit NodeParameterStore(
      const std::map<std::string, rcl_interfaces::msg::ParameterValue> & overrides = {});

  // Declares `name`, statically typed by `default_value`, with the override
  // for it if there is one (same exception as above); false, and nothing
  // changed, if it was declared already. `declared` gets name and value.
  bool declare(const std::string & name, const rcl_interfaces::msg::ParameterValue & default_value,
               rcl_interfaces::msg::ParameterDescriptor descriptor, Parameter * declared);
  // NOT_SET when not declared.
  rcl_interfaces::msg::ParameterValue value(const std::string & name) const;
  // The command line's value for `name`, declared or not; NOT_SET when it
  // has none.
  rcl_interfaces::msg::ParameterValue override_value(const std::string & name) const;

  // Empty when any name is not declared, as rclcpp's services answer then.
  std::vector<rcl_interfaces::msg::ParameterValue> get(const std::vector<std::string> & names) const;
  std::vector<uint8_t> types(const std::vector<std::string> & names) const;
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe(
      const std::vector<std::string> & names) const;
  rcl_interfaces::msg::ListParametersResult list(const std::vector<std::string> & prefixes,
                                                 uint64_t depth) const;
  // All or nothing; on success `changed` gets what was set.
  Result set_atomically(const std::vector<Parameter> & parameters, std::vector<Parameter> * changed);
  // One at a time, one result each (the set_parameters service).
  std::vector<Result> set_each(const std::vector<Parameter> & parameters, std::vector<Parameter> * changed);

  // The parameters in the order rclcpp declares them, for the events it
  // publishes then.
  std::vector<Parameter> all() const;

 private:
  struct Entry {
    rcl_interfaces::msg::ParameterDescriptor descriptor;
    rcl_interfaces::msg::ParameterValue value;
  };
  const Entry * find(const std::string & name) const;
  Entry * find(const std::string & name);

  mutable std::mutex mutex_;
  std::map<std::string, rcl_interfaces::msg::ParameterValue> overrides_;
  std::vector<Entry> entries_;  // sorted by name, as in rclcpp's std::map
  std::vector<std::string> declaration_order_;
};

class ParameterServices {
 public:
  using Parameter = rcl_interfaces::msg::Parameter;
  // Gets each successful set of use_sim_time, in order, on the spin thread.
  using UseSimTimeChanged = std::function<void(bool)>;
  // Publishes each successful change on `events`, which must outlive this.
  ParameterServices(NodeCore & node, TopicPublisher & events, std::unique_ptr<NodeParameterStore> store,
                    UseSimTimeChanged on_use_sim_time);
  ~ParameterServices();
  ParameterServices(const ParameterServices &) = delete;
  ParameterServices & operator=(const ParameterServices &) = delete;

  // The ParameterEvents rclcpp publishes as it declares the node's
  // parameters, one per parameter, in its order.
  std::vector<rcl_interfaces::msg::ParameterEvent> declared_events() const;
  bool use_sim_time() const;
  // Declares a parameter as rclcpp's declare_parameter does (publishing the
  // event) unless it exists; returns its value either way, as rclcpp's QoS
  // parameters are declared or read.
  rcl_interfaces::msg::ParameterValue declare(const std::string & name,
                                              const rcl_interfaces::msg::ParameterValue & value,
                                              const rcl_interfaces::msg::ParameterDescriptor & descriptor);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__PARAMETERS__PARAMETER_SERVICES_HPP_
