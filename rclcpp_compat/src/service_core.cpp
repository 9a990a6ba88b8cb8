#include <dds/dds.h>

#include <iostream>
#include <thread>
#include <unordered_map>
#include <vector>

#include "endpoint_pair.hpp"
#include "node_wait_set.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {
namespace {

// How long a reply waits for this server's reply writer to discover the
// requesting client's reader; a volatile reply sent before that is lost.
constexpr auto kReplyMatchWait = std::chrono::milliseconds(100);
// Caches of discovery data keyed by instance handle; cleared when this large
// so that a long run with many short-lived clients stays flat.
constexpr size_t kCacheLimit = 4096;

}  // namespace

struct ServiceCore::Impl {
  Impl(NodeCore & n, const std::string & name, const rmw_qos_profile_t & qos, const MessageWire & req,
       const MessageWire & resp)
      : wait_set(n.wait_set()),
        service_name(name),
        request_wire(req),
        response_wire(resp),
        endpoints(n, name, qos, req, request_topic_name(name), resp, reply_topic_name(name), "") {}

  // "clientid" of the writer that sent a request, "" when it has none.
  const std::string & client_of_publication(uint64_t publication_handle);
  bool reply_reader_matched(const std::string & client_id);
  void wait_for_reply_reader(uint64_t publication_handle);

  // Not the node itself: rclcpp lets a service outlive its node.
  std::shared_ptr<NodeCore::WaitSet> wait_set;
  std::string service_name;
  const MessageWire & request_wire;
  const MessageWire & response_wire;
  EndpointPair endpoints;
  std::unordered_map<uint64_t, std::string> publication_clients;
  std::unordered_map<uint64_t, std::string> subscription_clients;
};

const std::string & ServiceCore::Impl::client_of_publication(uint64_t handle) {
  auto it = publication_clients.find(handle);
  if (it != publication_clients.end()) {
    return it->second;
  }
  if (publication_clients.size() >= kCacheLimit) {
    publication_clients.clear();
  }
  dds_builtintopic_endpoint_t * ep = dds_get_matched_publication_data(endpoints.reader.get(), handle);
  if (ep == nullptr) {
    static const std::string unknown;
    return unknown;  // not known (yet): ask again next time instead of caching nothing
  }
  std::string id = user_data_value(ep->qos, "clientid");
  dds_builtintopic_free_endpoint(ep);
  return publication_clients.emplace(handle, std::move(id)).first->second;
}

bool ServiceCore::Impl::reply_reader_matched(const std::string & client_id) {
  for (const auto & entry : subscription_clients) {
    if (entry.second == client_id) {
      return true;
    }
  }
  std::vector<dds_instance_handle_t> handles(64);
  dds_return_t n = dds_get_matched_subscriptions(endpoints.writer.get(), handles.data(), handles.size());
  if (n > static_cast<dds_return_t>(handles.size())) {  // more readers than room: ask again with enough
    handles.resize(static_cast<size_t>(n));
    n = dds_get_matched_subscriptions(endpoints.writer.get(), handles.data(), handles.size());
  }
  if (n <= 0) {
    return false;
  }
  if (subscription_clients.size() >= kCacheLimit) {
    subscription_clients.clear();
  }
  bool found = false;
  for (size_t i = 0; i < static_cast<size_t>(n) && i < handles.size(); ++i) {
    auto it = subscription_clients.find(handles[i]);
    if (it == subscription_clients.end()) {
      dds_builtintopic_endpoint_t * ep =
          dds_get_matched_subscription_data(endpoints.writer.get(), handles[i]);
      if (ep == nullptr) {
        continue;  // discovery data not complete yet: look again next round instead of caching nothing
      }
      it = subscription_clients.emplace(handles[i], user_data_value(ep->qos, "clientid")).first;
      dds_builtintopic_free_endpoint(ep);
    }
    found = found || it->second == client_id;
  }
  return found;
}

void ServiceCore::Impl::wait_for_reply_reader(uint64_t publication_handle) {
  const std::string client_id = client_of_publication(publication_handle);
  if (client_id.empty()) {
    return;  // the client did not say who it is: reply at once, as ROS 2 does
  }
  const auto deadline = std::chrono::steady_clock::now() + kReplyMatchWait;
  while (!reply_reader_matched(client_id) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

ServiceCore::ServiceCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
                         const MessageWire & request_wire, const MessageWire & response_wire)
    : impl_(new Impl(node, service_name, qos, request_wire, response_wire)) {
  node.attach(impl_->endpoints.read_condition.get(), this);
}

ServiceCore::~ServiceCore() {
  impl_->wait_set->detach(impl_->endpoints.read_condition.get(), this);
}

const std::string & ServiceCore::service_name() const {
  return impl_->service_name;
}

void ServiceCore::execute() {
  take_each(impl_->endpoints.reader.get(), [this](const void * sample, const dds_sample_info_t & info) {
    RequestId id;
    id.header = impl_->request_wire.read_header(sample);
    id.publication_handle = info.publication_handle;
    handle(sample, id);
  });
}

void ServiceCore::send_response(const RequestId & id, const void * response_msg) {
  impl_->wait_for_reply_reader(id.publication_handle);
  const dds_return_t rc = impl_->response_wire.write(impl_->endpoints.writer.get(), id.header, response_msg);
  if (rc < 0) {
    std::cerr << "[WARN] failed to send response to " << impl_->service_name << ": " << dds_strretcode(rc)
              << std::endl;
  }
}

}  // namespace rclcpp_compat
