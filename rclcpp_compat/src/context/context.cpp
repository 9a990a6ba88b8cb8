// SPDX-License-Identifier: Apache-2.0
#include <dds/dds.h>

#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "context/context_impl.hpp"
#include "context/environment.hpp"
#include "context/signals.hpp"
#include "endpoints/dds_util.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/utilities.hpp"
#include "rclcpp_compat/participant.hpp"

namespace rclcpp_compat {

ContextImpl & ContextImpl::instance() {
  static ContextImpl * context = new ContextImpl();  // lives until exit; signal thread uses it
  return *context;
}

void ContextImpl::init(RosArguments args) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (initialized_ && !shut_down_) {
    throw rclcpp::exceptions::RCLError("context is already initialized");
  }
  // rcl_init reads these here, so a bad ROS_DOMAIN_ID or an enclave that
  // security cannot use fails init, before any node exists.
  const uint32_t domain_id = domain_id_from_env();
  const bool localhost_only = localhost_only_from_env();
  const std::string enclave = args.enclave.empty() ? "/" : args.enclave;
  SecurityOptions security = security_from_env(enclave, std::cerr);
  // The participant outlives shutdown; a new init elsewhere would silently
  // keep talking on the old domain, or with the old security.
  if (participant_ > 0 && (domain_id != domain_id_ || localhost_only != localhost_only_)) {
    throw rclcpp::exceptions::RCLError(
        "this process already has its participant on domain " + std::to_string(domain_id_) +
        (localhost_only_ ? " (localhost only)" : "") + "; it cannot be initialised again on domain " +
        std::to_string(domain_id) + (localhost_only ? " (localhost only)" : ""));
  }
  if (participant_ > 0 && (enclave != enclave_ || !(security == security_))) {
    throw rclcpp::exceptions::RCLError("this process already has its participant in enclave '" + enclave_ +
                                       "'; it cannot be initialised again with other security settings");
  }
  domain_id_ = domain_id;
  localhost_only_ = localhost_only;
  enclave_ = enclave;
  security_ = std::move(security);
  args_ = std::move(args);
  initialized_ = true;
  shut_down_ = false;
  shutdown_reason_.clear();
  if (guard_ > 0) {
    dds_set_guardcondition(guard_, false);
  }
}

bool ContextImpl::ok() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return initialized_ && !shut_down_;
}

bool ContextImpl::shutdown(const std::string & reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_ || shut_down_) {
    return false;
  }
  shut_down_ = true;
  shutdown_reason_ = reason;
  if (guard_ > 0) {
    dds_set_guardcondition(guard_, true);
  }
  return true;
}

std::string ContextImpl::shutdown_reason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

void ContextImpl::require_running() const {
  if (!ok()) {
    throw rclcpp::exceptions::RCLError("the context is not initialized or was shut down (call rclcpp::init)");
  }
}

RosArguments ContextImpl::arguments() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return args_;
}

int32_t ContextImpl::participant() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (participant_ > 0) {
    return participant_;
  }
  participant_ = create_ros_participant(domain_id_, localhost_only_, enclave_, security_);
  return participant_;
}

int32_t ContextImpl::shutdown_guard() {
  const dds_entity_t pp = participant();
  std::lock_guard<std::mutex> lock(mutex_);
  if (guard_ <= 0) {
    guard_ = check_entity(dds_create_guardcondition(pp), "cannot create guard condition");
    dds_set_guardcondition(guard_, shut_down_);
  }
  return guard_;
}

}  // namespace rclcpp_compat

// ---- the rclcpp functions ------------------------------------------------------

namespace rclcpp {
namespace {

// The layer has the default context only; another would need state of its own
// (its own init, shutdown and participant), which it cannot have here.
void require_default_context(const Context * context) {
  if (context != nullptr && context != contexts::get_global_default_context().get()) {
    throw std::invalid_argument("rclcpp_compat: only the default context is supported");
  }
}

}  // namespace

void init(int argc, char const * const * argv, const InitOptions & init_options,
          SignalHandlerOptions signal_handler_options) {
  (void)init_options;
  auto & context = rclcpp_compat::ContextImpl::instance();
  context.init(rclcpp_compat::parse_ros_arguments(argc, argv));
  const bool all = signal_handler_options == SignalHandlerOptions::All;
  rclcpp_compat::install_signal_handlers(all || signal_handler_options == SignalHandlerOptions::SigInt,
                                         all || signal_handler_options == SignalHandlerOptions::SigTerm);
}

bool ok(std::shared_ptr<Context> context) {
  require_default_context(context.get());
  return rclcpp_compat::ContextImpl::instance().ok();
}

bool shutdown(std::shared_ptr<Context> context, const std::string & reason) {
  require_default_context(context.get());
  const bool was_running = rclcpp_compat::ContextImpl::instance().shutdown(reason);
  rclcpp_compat::uninstall_signal_handlers();
  return was_running;
}

std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv) {
  return rclcpp_compat::parse_ros_arguments(argc, argv).non_ros;
}

bool Context::is_valid() const {
  require_default_context(this);
  return rclcpp_compat::ContextImpl::instance().ok();
}

std::string Context::shutdown_reason() const {
  require_default_context(this);
  return rclcpp_compat::ContextImpl::instance().shutdown_reason();
}

bool Context::shutdown(const std::string & reason) {
  require_default_context(this);
  return rclcpp_compat::ContextImpl::instance().shutdown(reason);
}

namespace contexts {
Context::SharedPtr get_global_default_context() {
  static auto context = std::make_shared<Context>();
  return context;
}
}  // namespace contexts

}  // namespace rclcpp
