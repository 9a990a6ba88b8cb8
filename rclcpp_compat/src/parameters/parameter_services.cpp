// SPDX-License-Identifier: Apache-2.0
#include "parameters/parameter_services.hpp"

#include <algorithm>
#include <chrono>
#include <functional>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/srv/describe_parameters.hpp>
#include <rcl_interfaces/srv/get_parameter_types.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/list_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters_atomically.hpp>
#include <rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp>
#include <utility>

#include "rclcpp/exceptions.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp_compat {
namespace {

using rcl_interfaces::msg::ParameterType;

// rclcpp::to_string(ParameterType), which the reasons quote.
std::string type_name(uint8_t type) {
  switch (type) {
    case ParameterType::PARAMETER_NOT_SET:
      return "not set";
    case ParameterType::PARAMETER_BOOL:
      return "bool";
    case ParameterType::PARAMETER_INTEGER:
      return "integer";
    case ParameterType::PARAMETER_DOUBLE:
      return "double";
    case ParameterType::PARAMETER_STRING:
      return "string";
    case ParameterType::PARAMETER_BYTE_ARRAY:
      return "byte_array";
    case ParameterType::PARAMETER_BOOL_ARRAY:
      return "bool_array";
    case ParameterType::PARAMETER_INTEGER_ARRAY:
      return "integer_array";
    case ParameterType::PARAMETER_DOUBLE_ARRAY:
      return "double_array";
    case ParameterType::PARAMETER_STRING_ARRAY:
      return "string_array";
    default:
      return "unknown type";
  }
}

NodeParameterStore::Result refused(std::string reason) {
  NodeParameterStore::Result result;
  result.successful = false;
  result.reason = std::move(reason);
  return result;
}

// How a set fails on a name that was never declared: the two services word it
// differently.
enum class Undeclared { kEach, kAtomically };

}  // namespace

NodeParameterStore::NodeParameterStore(
    const std::map<std::string, rcl_interfaces::msg::ParameterValue> & overrides)
    : overrides_(overrides) {
  // rclcpp's TimeSource declares it with a bool default, so statically typed.
  rcl_interfaces::msg::ParameterValue use_sim_time;
  use_sim_time.type = ParameterType::PARAMETER_BOOL;
  use_sim_time.bool_value = false;
  declare("use_sim_time", use_sim_time, rcl_interfaces::msg::ParameterDescriptor(), nullptr);
  // Then rclcpp's Node constructor declares the QoS of its /parameter_events
  // publisher (rmw_qos_profile_parameter_events) as read-only parameters, so
  // that they are visible (rclcpp::detail::declare_qos_parameters), in the
  // order of PublisherQosParametersTraits::allowed_policies().
  const auto declare_qos = [this](const char * policy, const rcl_interfaces::msg::ParameterValue & value) {
    rcl_interfaces::msg::ParameterDescriptor descriptor;
    descriptor.description = std::string("qos policy {") + policy + "} for publisher {/parameter_events}";
    descriptor.read_only = true;
    declare(std::string("qos_overrides./parameter_events.publisher.") + policy, value, descriptor, nullptr);
  };
  const auto text = [](const char * value) {
    rcl_interfaces::msg::ParameterValue v;
    v.type = ParameterType::PARAMETER_STRING;
    v.string_value = value;
    return v;
  };
  rcl_interfaces::msg::ParameterValue depth;
  depth.type = ParameterType::PARAMETER_INTEGER;
  depth.integer_value = static_cast<int64_t>(rmw_qos_profile_parameter_events.depth);
  // rmw_qos_profile_parameter_events' policies, as rmw_qos_*_policy_to_str
  // writes them.
  declare_qos("durability", text("volatile"));
  declare_qos("history", text("keep_last"));
  declare_qos("depth", depth);
  declare_qos("reliability", text("reliable"));
}

bool NodeParameterStore::declare(const std::string & name,
                                 const rcl_interfaces::msg::ParameterValue & default_value,
                                 rcl_interfaces::msg::ParameterDescriptor descriptor, Parameter * declared) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (find(name) != nullptr) {
    return false;
  }
  Entry entry;
  entry.descriptor = std::move(descriptor);
  entry.descriptor.name = name;
  entry.descriptor.type = default_value.type;  // statically typed by its default
  entry.value = default_value;
  const auto override_it = overrides_.find(name);
  if (override_it != overrides_.end()) {
    // The declaration sets the initial value as a set would, so a value of
    // another type fails with the set's reason.
    if (override_it->second.type != entry.descriptor.type) {
      throw rclcpp::exceptions::InvalidParameterTypeException(
          name, "Wrong parameter type, parameter {" + name + "} is of type {" +
                    type_name(entry.descriptor.type) + "}, setting it to {" +
                    type_name(override_it->second.type) + "} is not allowed.");
    }
    entry.value = override_it->second;
  }
  if (declared != nullptr) {
    declared->name = name;
    declared->value = entry.value;
  }
  declaration_order_.push_back(name);
  // Sorted by name, as rclcpp's std::map lists them.
  const auto at = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry & e) { return e.descriptor.name > name; });
  entries_.insert(at, std::move(entry));
  return true;
}

rcl_interfaces::msg::ParameterValue NodeParameterStore::value(const std::string & name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry * e = find(name);
  return e != nullptr ? e->value : rcl_interfaces::msg::ParameterValue();
}

rcl_interfaces::msg::ParameterValue NodeParameterStore::override_value(const std::string & name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = overrides_.find(name);
  return it != overrides_.end() ? it->second : rcl_interfaces::msg::ParameterValue();
}

const NodeParameterStore::Entry * NodeParameterStore::find(const std::string & name) const {
  for (const auto & e : entries_) {
    if (e.descriptor.name == name) {
      return &e;
    }
  }
  return nullptr;
}

NodeParameterStore::Entry * NodeParameterStore::find(const std::string & name) {
  return const_cast<Entry *>(static_cast<const NodeParameterStore *>(this)->find(name));
}

std::vector<rcl_interfaces::msg::ParameterValue> NodeParameterStore::get(
    const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<rcl_interfaces::msg::ParameterValue> values;
  for (const auto & name : names) {
    const Entry * e = find(name);
    if (e == nullptr) {
      return {};
    }
    values.push_back(e->value);
  }
  return values;
}

std::vector<uint8_t> NodeParameterStore::types(const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> types;
  for (const auto & name : names) {
    const Entry * e = find(name);
    if (e == nullptr) {
      return {};
    }
    types.push_back(e->value.type);
  }
  return types;
}

std::vector<rcl_interfaces::msg::ParameterDescriptor> NodeParameterStore::describe(
    const std::vector<std::string> & names) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<rcl_interfaces::msg::ParameterDescriptor> descriptors;
  for (const auto & name : names) {
    const Entry * e = find(name);
    if (e == nullptr) {
      return {};
    }
    descriptors.push_back(e->descriptor);
  }
  return descriptors;
}

// rclcpp's rule: "." separates levels; depth 0 is recursive.
rcl_interfaces::msg::ListParametersResult NodeParameterStore::list(const std::vector<std::string> & prefixes,
                                                                   uint64_t depth) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto levels_below = [](const std::string & s) {
    return static_cast<uint64_t>(std::count(s.begin(), s.end(), '.'));
  };
  rcl_interfaces::msg::ListParametersResult result;
  for (const auto & e : entries_) {
    const std::string & name = e.descriptor.name;
    const bool get_all = prefixes.empty() && (depth == 0 || levels_below(name) < depth);
    const bool prefix_matches =
        std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string & prefix) {
          if (name == prefix) {
            return true;
          }
          if (name.compare(0, prefix.size() + 1, prefix + ".") == 0) {
            return depth == 0 || levels_below(name.substr(prefix.size())) < depth;
          }
          return false;
        });
    if (!get_all && !prefix_matches) {
      continue;
    }
    result.names.push_back(name);
    const size_t last = name.find_last_of('.');
    if (last != std::string::npos) {
      const std::string prefix = name.substr(0, last);
      if (std::find(result.prefixes.begin(), result.prefixes.end(), prefix) == result.prefixes.end()) {
        result.prefixes.push_back(prefix);
      }
    }
  }
  return result;
}

namespace {

// The checks of rclcpp's NodeParameters::set_parameters_atomically, in its
// order, for a node without undeclared parameters, ranges or set callbacks. Where rclcpp lets an exception
// escape the service (and end the node) this refuses with the exception's text instead.
template <class Lookup>
NodeParameterStore::Result check(const std::vector<NodeParameterStore::Parameter> & parameters, Lookup lookup,
                                 Undeclared undeclared) {
  for (const auto & p : parameters) {
    if (p.value.type > ParameterType::PARAMETER_STRING_ARRAY) {
      return refused("Unknown type: " + std::to_string(p.value.type));
    }
  }
  for (const auto & p : parameters) {
    if (p.name.empty()) {
      return refused("parameter name must not be empty");
    }
    if (lookup(p.name) == nullptr) {
      return refused(undeclared == Undeclared::kEach
                         ? "parameter '" + p.name + "' cannot be set because it was not declared"
                         : "One or more parameters were not declared before setting");
    }
    if (lookup(p.name)->descriptor.read_only) {
      return refused("parameter '" + p.name + "' cannot be set because it is read-only");
    }
  }
  for (const auto & p : parameters) {
    if (p.value.type == ParameterType::PARAMETER_NOT_SET &&
        lookup(p.name)->value.type != ParameterType::PARAMETER_NOT_SET &&
        !lookup(p.name)->descriptor.dynamic_typing) {
      return refused("cannot undeclare an statically typed parameter");
    }
  }
  for (const auto & p : parameters) {
    const auto & descriptor = lookup(p.name)->descriptor;
    if (!descriptor.dynamic_typing && descriptor.type != p.value.type) {
      return refused("Wrong parameter type, parameter {" + p.name + "} is of type {" +
                     type_name(descriptor.type) + "}, setting it to {" + type_name(p.value.type) +
                     "} is not allowed.");
    }
  }
  NodeParameterStore::Result ok;
  ok.successful = true;
  return ok;
}

}  // namespace

NodeParameterStore::Result NodeParameterStore::set_atomically(const std::vector<Parameter> & parameters,
                                                              std::vector<Parameter> * changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto lookup = [this](const std::string & name) {
    return static_cast<const NodeParameterStore *>(this)->find(name);
  };
  Result result = check(parameters, lookup, Undeclared::kAtomically);
  if (result.successful) {
    for (const auto & p : parameters) {
      // rclcpp keeps the value message as it came, other fields included.
      find(p.name)->value = p.value;
      changed->push_back(p);
    }
  }
  return result;
}

std::vector<NodeParameterStore::Result> NodeParameterStore::set_each(
    const std::vector<Parameter> & parameters, std::vector<Parameter> * changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto lookup = [this](const std::string & name) {
    return static_cast<const NodeParameterStore *>(this)->find(name);
  };
  std::vector<Result> results;
  for (const auto & p : parameters) {
    results.push_back(check({p}, lookup, Undeclared::kEach));
    if (results.back().successful) {
      find(p.name)->value = p.value;
      changed->push_back(p);
    }
  }
  return results;
}

std::vector<NodeParameterStore::Parameter> NodeParameterStore::all() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Parameter> parameters;
  for (const auto & name : declaration_order_) {
    parameters.emplace_back();
    parameters.back().name = name;
    parameters.back().value = find(name)->value;
  }
  return parameters;
}

// ---- the services ---------------------------------------------------------

namespace {

// A service of the layer itself, answered on the node's spin thread.
template <class SrvT>
class InternalService : public ServiceCore {
 public:
  using Handler = std::function<void(const typename SrvT::Request &, typename SrvT::Response &)>;
  InternalService(NodeCore & node, const std::string & name, Handler handler)
      : ServiceCore(
            node, name, rmw_qos_profile_parameters,
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<typename SrvT::Request>(),
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<typename SrvT::Response>()),
        handler_(std::move(handler)) {}

 protected:
  void handle(const void * sample, const RequestId & id) override {
    typename SrvT::Request request;
    if (!read_request(sample, &request)) {
      return;
    }
    auto response = std::make_shared<typename SrvT::Response>();
    handler_(request, *response);
    send_response(id, std::move(response));
  }

 private:
  Handler handler_;
};

builtin_interfaces::msg::Time now() {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  builtin_interfaces::msg::Time t;
  t.sec = static_cast<int32_t>(ns / 1000000000);
  t.nanosec = static_cast<uint32_t>(ns % 1000000000);
  return t;
}

}  // namespace

struct ParameterServices::Impl {
  Impl(NodeCore & n, TopicPublisher & e, std::unique_ptr<NodeParameterStore> s, UseSimTimeChanged u)
      : node_name(n.fully_qualified_name()),
        events(e),
        store_ptr(std::move(s)),
        store(*store_ptr),
        on_use_sim_time(std::move(u)) {}

  // Publishes the event, then acts on use_sim_time as rclcpp's TimeSource
  // does when that event reaches it: each bool value in order.
  void publish_changed(const std::vector<NodeParameterStore::Parameter> & changed) {
    if (changed.empty()) {
      return;
    }
    rcl_interfaces::msg::ParameterEvent event;
    event.stamp = now();
    event.node = node_name;
    event.changed_parameters = changed;
    events.publish(&event);
    for (const auto & p : changed) {
      if (p.name == "use_sim_time" && p.value.type == ParameterType::PARAMETER_BOOL && on_use_sim_time) {
        on_use_sim_time(p.value.bool_value);
      }
    }
  }

  std::string node_name;
  TopicPublisher & events;
  std::unique_ptr<NodeParameterStore> store_ptr;
  NodeParameterStore & store;
  UseSimTimeChanged on_use_sim_time;
  std::vector<std::unique_ptr<ServiceCore>> services;
};

ParameterServices::ParameterServices(NodeCore & node, TopicPublisher & events,
                                     std::unique_ptr<NodeParameterStore> store,
                                     UseSimTimeChanged on_use_sim_time)
    : impl_(new Impl(node, events, std::move(store), std::move(on_use_sim_time))) {
  namespace srv = rcl_interfaces::srv;
  Impl & impl = *impl_;
  // Relative to the node's namespace and remapped like any service name.
  const auto name = [&node](const char * service) {
    return node.resolve_service_name(node.name() + "/" + service);
  };
  // rclcpp's order of creation.
  impl.services.push_back(std::make_unique<InternalService<srv::GetParameters>>(
      node, name("get_parameters"),
      [&impl](const srv::GetParameters::Request & rq, srv::GetParameters::Response & rs) {
        rs.values = impl.store.get(rq.names);
      }));
  impl.services.push_back(std::make_unique<InternalService<srv::GetParameterTypes>>(
      node, name("get_parameter_types"),
      [&impl](const srv::GetParameterTypes::Request & rq, srv::GetParameterTypes::Response & rs) {
        rs.types = impl.store.types(rq.names);
      }));
  impl.services.push_back(std::make_unique<InternalService<srv::SetParameters>>(
      node, name("set_parameters"),
      [&impl](const srv::SetParameters::Request & rq, srv::SetParameters::Response & rs) {
        // rclcpp publishes one event per parameter set.
        for (const auto & p : rq.parameters) {
          std::vector<NodeParameterStore::Parameter> changed;
          rs.results.push_back(impl.store.set_each({p}, &changed).front());
          impl.publish_changed(changed);
        }
      }));
  impl.services.push_back(std::make_unique<InternalService<srv::SetParametersAtomically>>(
      node, name("set_parameters_atomically"),
      [&impl](const srv::SetParametersAtomically::Request & rq, srv::SetParametersAtomically::Response & rs) {
        std::vector<NodeParameterStore::Parameter> changed;
        rs.result = impl.store.set_atomically(rq.parameters, &changed);
        impl.publish_changed(changed);
      }));
  impl.services.push_back(std::make_unique<InternalService<srv::DescribeParameters>>(
      node, name("describe_parameters"),
      [&impl](const srv::DescribeParameters::Request & rq, srv::DescribeParameters::Response & rs) {
        rs.descriptors = impl.store.describe(rq.names);
      }));
  impl.services.push_back(std::make_unique<InternalService<srv::ListParameters>>(
      node, name("list_parameters"),
      [&impl](const srv::ListParameters::Request & rq, srv::ListParameters::Response & rs) {
        rs.result = impl.store.list(rq.prefixes, rq.depth);
      }));
}

ParameterServices::~ParameterServices() = default;

std::vector<rcl_interfaces::msg::ParameterEvent> ParameterServices::declared_events() const {
  // rclcpp publishes one event per declared parameter.
  std::vector<rcl_interfaces::msg::ParameterEvent> events;
  for (auto & parameter : impl_->store.all()) {
    events.emplace_back();
    events.back().stamp = now();
    events.back().node = impl_->node_name;
    events.back().new_parameters.push_back(std::move(parameter));
  }
  return events;
}

bool ParameterServices::use_sim_time() const {
  return impl_->store.value("use_sim_time").bool_value;
}

rcl_interfaces::msg::ParameterValue ParameterServices::declare(
    const std::string & name, const rcl_interfaces::msg::ParameterValue & value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor) {
  Parameter declared;
  if (impl_->store.declare(name, value, descriptor, &declared)) {
    // rclcpp publishes one event per declaration.
    rcl_interfaces::msg::ParameterEvent event;
    event.stamp = now();
    event.node = impl_->node_name;
    event.new_parameters.push_back(declared);
    impl_->events.publish(&event);
  }
  return impl_->store.value(name);
}

}  // namespace rclcpp_compat
