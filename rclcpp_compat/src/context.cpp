// SPDX-License-Identifier: Apache-2.0
#include <dds/dds.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "context_impl.hpp"
#include "dds_util.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp_compat {
namespace {

// What rmw_cyclonedds_cpp (Humble) hands Cyclone for a localhost-only domain:
// the interface and nothing else, so Cyclone uses multicast where loopback
// supports it and unicast to this host otherwise. A real ROS 2 node on this
// host finds ours only if both leave the rest to Cyclone.
const char * const kLocalhostConfig =
    "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
    "</Interfaces></General></Domain></CycloneDDS>,";

// RMW_DEFAULT_DOMAIN_ID: what rcl leaves when ROS_DOMAIN_ID is unset or
// empty; rmw_cyclonedds_cpp turns it into 0.
constexpr size_t kDefaultDomainId = SIZE_MAX;

}  // namespace

// Read as rcl_get_default_domain_id does (strtoul with base 0, so "0x10" and
// "010" mean what they mean to a real node), then checked as
// rmw_cyclonedds_cpp does; Cyclone refuses ids its port mapping cannot hold.
dds_domainid_t domain_id_from_env() {
  size_t domain_id = kDefaultDomainId;
  const char * text = std::getenv("ROS_DOMAIN_ID");
  if (text != nullptr && *text != '\0') {
    char * end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(text, &end, 0);
    if (number == 0UL && *end != '\0') {
      throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is not an integral number: '") + text +
                                         "'");
    }
    if ((number == ULONG_MAX && errno == ERANGE) || number > SIZE_MAX) {
      throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is out of range: '") + text + "'");
    }
    domain_id = static_cast<size_t>(number);
  }
  if (domain_id == kDefaultDomainId) {
    return 0;
  }
  if (domain_id >= UINT32_MAX) {
    throw rclcpp::exceptions::RCLError(std::string("ROS_DOMAIN_ID is out of range: '") + text + "'");
  }
  return static_cast<dds_domainid_t>(domain_id);
}

// Deliberately unlike ROS 2 (localhost-only only for "1"): this build stays on
// loopback unless told "0".
bool localhost_only_from_env() {
  const char * text = std::getenv("ROS_LOCALHOST_ONLY");
  return text == nullptr || std::strcmp(text, "0") != 0;
}

std::string domain_config(bool localhost_only) {
  // Cyclone reads CYCLONEDDS_URI only for domains it creates itself, so it
  // comes after ours, as rmw_cyclonedds_cpp appends it; empty fragments are
  // ignored.
  const char * uri = std::getenv("CYCLONEDDS_URI");
  return std::string(localhost_only ? kLocalhostConfig : "") + (uri != nullptr ? uri : "");
}

ContextImpl & ContextImpl::instance() {
  static ContextImpl * context = new ContextImpl();  // lives until exit; signal thread uses it
  return *context;
}

void ContextImpl::init(RosArguments args) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (initialized_ && !shut_down_) {
    throw rclcpp::exceptions::RCLError("context is already initialized");
  }
  // rcl_init reads both here, so a bad ROS_DOMAIN_ID fails init.
  const uint32_t domain_id = domain_id_from_env();
  const bool localhost_only = localhost_only_from_env();
  // The participant outlives shutdown; a new init elsewhere would silently
  // keep talking on the old domain.
  if (participant_ > 0 && (domain_id != domain_id_ || localhost_only != localhost_only_)) {
    throw rclcpp::exceptions::RCLError(
        "this process already has its participant on domain " + std::to_string(domain_id_) +
        (localhost_only_ ? " (localhost only)" : "") + "; it cannot be initialised again on domain " +
        std::to_string(domain_id) + (localhost_only ? " (localhost only)" : ""));
  }
  domain_id_ = domain_id;
  localhost_only_ = localhost_only;
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
  const dds_domainid_t domain = domain_id_;
  // Always an explicit domain, as rmw_cyclonedds_cpp creates it; the latter
  // code means this process created that domain already.
  const dds_entity_t d = dds_create_domain(domain, domain_config(localhost_only_).c_str());
  if (d < 0 && d != DDS_RETCODE_PRECONDITION_NOT_MET) {
    throw_dds_error("cannot create DDS domain " + std::to_string(domain), d);
  }
  dds_qos_t * qos = dds_create_qos();
  static const char kEnclave[] = "enclave=/;";
  dds_qset_userdata(qos, kEnclave, sizeof kEnclave - 1);
  const dds_entity_t p = dds_create_participant(domain, qos, nullptr);
  dds_delete_qos(qos);
  participant_ = check_entity(p, "cannot create DDS participant on domain " + std::to_string(domain));
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

// ---- signals ----------------------------------------------------------------

namespace {

int g_signal_pipe[2] = {-1, -1};
struct sigaction g_old_int;
struct sigaction g_old_term;
bool g_installed_int = false;
bool g_installed_term = false;
std::thread * g_signal_thread = nullptr;

extern "C" void on_signal(int signo) {
  const int saved = errno;
  const char byte = static_cast<char>(signo);
  ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void signal_thread_main() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(g_signal_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0 || byte == 0) {
      return;  // uninstall asked us to stop
    }
    ContextImpl::instance().shutdown("signal handler");
  }
}

void install_one(int signo, struct sigaction * old) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(signo, &action, old) != 0) {
    throw rclcpp::exceptions::RCLError(std::string("cannot install signal handler: ") + std::strerror(errno));
  }
}

}  // namespace

void install_signal_handlers(bool sigint, bool sigterm) {
  if (g_signal_thread != nullptr || (!sigint && !sigterm)) {
    return;
  }
  if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) {
    throw rclcpp::exceptions::RCLError(std::string("cannot create signal pipe: ") + std::strerror(errno));
  }
  g_signal_thread = new std::thread(signal_thread_main);
  if (sigint) {
    install_one(SIGINT, &g_old_int);
    g_installed_int = true;
  }
  if (sigterm) {
    install_one(SIGTERM, &g_old_term);
    g_installed_term = true;
  }
}

void uninstall_signal_handlers() {
  if (g_signal_thread == nullptr) {
    return;
  }
  if (g_installed_int) {
    sigaction(SIGINT, &g_old_int, nullptr);
    g_installed_int = false;
  }
  if (g_installed_term) {
    sigaction(SIGTERM, &g_old_term, nullptr);
    g_installed_term = false;
  }
  const char stop = 0;
  ssize_t ignored = write(g_signal_pipe[1], &stop, 1);
  (void)ignored;
  g_signal_thread->join();
  delete g_signal_thread;
  g_signal_thread = nullptr;
  close(g_signal_pipe[0]);
  close(g_signal_pipe[1]);
  g_signal_pipe[0] = g_signal_pipe[1] = -1;
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
