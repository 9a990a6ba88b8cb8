#include <dds/dds.h>

#include <mutex>
#include <unordered_set>
#include <vector>

#include "context_impl.hpp"
#include "dds_util.hpp"
#include "names.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

struct NodeCore::Impl {
  std::string name;
  std::string ns;
  std::vector<RemapRule> remaps;
  dds_entity_t participant = 0;
  Entity waitset;
  // Waitables attached now; a callback may destroy another one mid-round.
  std::mutex mutex;
  std::unordered_set<Waitable *> live;
};

NodeCore::NodeCore(const std::string & name, const std::string & ns) : impl_(new Impl) {
  auto & context = ContextImpl::instance();
  context.require_running();
  impl_->remaps = context.arguments().remaps;
  impl_->name = name;
  impl_->ns = ns;
  resolve_node_identity(impl_->remaps, impl_->name, impl_->ns);
  impl_->participant = context.participant();
  impl_->waitset.reset(check_entity(dds_create_waitset(impl_->participant), "cannot create waitset"));
  const dds_return_t rc = dds_waitset_attach(impl_->waitset.get(), context.shutdown_guard(), 0);
  if (rc < 0) {
    throw_dds_error("cannot attach shutdown guard", rc);
  }
}

NodeCore::~NodeCore() = default;

const std::string & NodeCore::name() const {
  return impl_->name;
}
const std::string & NodeCore::ns() const {
  return impl_->ns;
}

std::string NodeCore::fully_qualified_name() const {
  return (impl_->ns == "/" ? "" : impl_->ns) + "/" + impl_->name;
}

std::string NodeCore::resolve_service_name(const std::string & name) const {
  return resolve_service(impl_->remaps, impl_->name, impl_->ns, name);
}

int32_t NodeCore::participant() const {
  return impl_->participant;
}

void NodeCore::attach(int32_t condition, Waitable * waitable) {
  const dds_return_t rc = dds_waitset_attach(impl_->waitset.get(), condition,
                                             static_cast<dds_attach_t>(reinterpret_cast<intptr_t>(waitable)));
  if (rc < 0) {
    throw_dds_error("cannot attach to waitset", rc);
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->live.insert(waitable);
}

void NodeCore::detach(int32_t condition, Waitable * waitable) {
  dds_waitset_detach(impl_->waitset.get(), condition);
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->live.erase(waitable);
}

bool NodeCore::wait_and_execute(std::chrono::nanoseconds timeout) {
  auto & context = ContextImpl::instance();
  if (!context.ok()) {
    return false;
  }
  constexpr size_t kMaxReady = 32;
  dds_attach_t ready[kMaxReady];
  const dds_duration_t reltimeout =
      timeout.count() < 0 ? DDS_INFINITY : static_cast<dds_duration_t>(timeout.count());
  const dds_return_t n = dds_waitset_wait(impl_->waitset.get(), ready, kMaxReady, reltimeout);
  for (dds_return_t i = 0; i < n && i < static_cast<dds_return_t>(kMaxReady); ++i) {
    auto * waitable = reinterpret_cast<Waitable *>(static_cast<intptr_t>(ready[i]));
    if (waitable == nullptr || !context.ok()) {
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      if (impl_->live.count(waitable) == 0u) {
        continue;
      }
    }
    waitable->execute();
  }
  return context.ok();
}

}  // namespace rclcpp_compat

namespace rclcpp {

void spin(Node::SharedPtr node_ptr) {
  auto & core = node_ptr->compat_core();
  while (core.wait_and_execute(std::chrono::nanoseconds(-1))) {
  }
}

void spin_some(Node::SharedPtr node_ptr) {
  node_ptr->compat_core().wait_and_execute(std::chrono::nanoseconds(0));
}

}  // namespace rclcpp
