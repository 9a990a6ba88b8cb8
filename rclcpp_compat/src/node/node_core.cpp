// SPDX-License-Identifier: Apache-2.0
#include <dds/dds.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "command_line/names.hpp"
#include "context/context_impl.hpp"
#include "endpoints/dds_util.hpp"
#include "endpoints/graph.hpp"
#include "node/node_wait_set.hpp"
#include "parameters/node_defaults.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {

NodeCore::WaitSet::WaitSet(dds_entity_t pp)
    : participant(pp), waitset(check_entity(dds_create_waitset(pp), "cannot create waitset")) {}

NodeCore::WaitSet::~WaitSet() {
  if (graph_node != 0) {
    ParticipantGraph::instance().remove_node(graph_node);
  }
}

void NodeCore::WaitSet::attach(dds_entity_t condition, Waitable * waitable) {
  const dds_return_t rc = dds_waitset_attach(waitset.get(), condition,
                                             static_cast<dds_attach_t>(reinterpret_cast<intptr_t>(waitable)));
  if (rc < 0) {
    throw_dds_error("cannot attach to waitset", rc);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  live_.insert(waitable);
}

void NodeCore::WaitSet::detach(dds_entity_t condition, Waitable * waitable) {
  dds_waitset_detach(waitset.get(), condition);
  std::lock_guard<std::mutex> lock(mutex_);
  live_.erase(waitable);
}

bool NodeCore::WaitSet::is_live(Waitable * waitable) {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.count(waitable) != 0u;
}

struct NodeCore::Impl {
  std::string name;
  std::string ns;
  std::vector<RemapRule> remaps;
  std::shared_ptr<WaitSet> wait_set;
  // What every rclcpp node has (destroyed first).
  std::unique_ptr<NodeDefaults> defaults;
};

NodeCore::NodeCore(const std::string & name, const std::string & ns) : impl_(new Impl) {
  auto & context = ContextImpl::instance();
  context.require_running();
  impl_->remaps = context.arguments().remaps;
  impl_->name = name;
  impl_->ns = ns;
  resolve_node_identity(impl_->remaps, impl_->name, impl_->ns);
  // rclcpp matches the command line's parameters against the name after
  // remapping, and refuses a bad value before the node exists.
  auto parameters =
      std::make_unique<NodeParameterStore>(context.arguments().parameters.for_node(fully_qualified_name()));
  impl_->wait_set = make_wait_set(context.participant());
  impl_->wait_set->graph_node =
      ParticipantGraph::instance().add_node(impl_->wait_set->participant, impl_->name, impl_->ns);
  impl_->defaults = std::make_unique<NodeDefaults>(*this, std::move(parameters));
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
  return impl_->wait_set->participant;
}

std::shared_ptr<NodeCore::WaitSet> NodeCore::wait_set() const {
  return impl_->wait_set;
}

void NodeCore::attach(int32_t condition, Waitable * waitable) {
  impl_->wait_set->attach(condition, waitable);
}

bool NodeCore::wait_and_execute(std::chrono::nanoseconds timeout) {
  return rclcpp_compat::wait_and_execute(*impl_->wait_set, timeout);
}

std::shared_ptr<NodeCore::WaitSet> make_wait_set(dds_entity_t participant) {
  auto wait_set = std::make_shared<NodeCore::WaitSet>(participant);
  const dds_return_t rc =
      dds_waitset_attach(wait_set->waitset.get(), ContextImpl::instance().shutdown_guard(), 0);
  if (rc < 0) {
    throw_dds_error("cannot attach shutdown guard", rc);
  }
  return wait_set;
}

bool wait_and_execute(NodeCore::WaitSet & wait_set, std::chrono::nanoseconds timeout) {
  auto & context = ContextImpl::instance();
  if (!context.ok()) {
    return false;
  }
  constexpr size_t kMaxReady = 32;
  dds_attach_t ready[kMaxReady];
  const dds_duration_t reltimeout =
      timeout.count() < 0 ? DDS_INFINITY : static_cast<dds_duration_t>(timeout.count());
  const dds_return_t n = dds_waitset_wait(wait_set.waitset.get(), ready, kMaxReady, reltimeout);
  for (dds_return_t i = 0; i < n && i < static_cast<dds_return_t>(kMaxReady); ++i) {
    auto * waitable = reinterpret_cast<Waitable *>(static_cast<intptr_t>(ready[i]));
    if (waitable == nullptr || !context.ok() || !wait_set.is_live(waitable)) {
      continue;
    }
    waitable->execute();
  }
  return context.ok();
}

}  // namespace rclcpp_compat

namespace rclcpp {

void spin(Node::SharedPtr node_ptr) {
  auto & core = rclcpp_compat::node_core(*node_ptr);
  while (core.wait_and_execute(std::chrono::nanoseconds(-1))) {
  }
}

void spin_some(Node::SharedPtr node_ptr) {
  rclcpp_compat::node_core(*node_ptr).wait_and_execute(std::chrono::nanoseconds(0));
}

}  // namespace rclcpp
