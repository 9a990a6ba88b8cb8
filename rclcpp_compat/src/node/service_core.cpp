// SPDX-License-Identifier: Apache-2.0
#include <dds/dds.h>

#include <deque>
#include <iostream>
#include <thread>
#include <unordered_map>
#include <vector>

#include "endpoints/service_endpoint_pair.hpp"
#include "node/node_wait_set.hpp"
#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {
namespace {

// A reply to a client whose reader this server's reply writer has not
// discovered yet would be lost (the reply topic is volatile). Such a reply is
// held, without blocking other requests, until the reader is found, for at
// most this long; then it is sent all the same.
constexpr auto kReplyHoldLimit = std::chrono::seconds(5);
// Replies held at once; past this the oldest is sent as it is.
constexpr size_t kMaxHeldReplies = 256;
// After a match event, how long to keep looking for the reader's discovery
// data, which can trail the event by a moment.
constexpr auto kMatchDataWait = std::chrono::milliseconds(10);
// Caches of discovery data keyed by instance handle; cleared when this large
// so that a long run with many short-lived clients stays flat.
constexpr size_t kCacheLimit = 4096;

}  // namespace

struct ServiceCore::Impl {
  Impl(NodeCore & n, const std::string & name, const rmw_qos_profile_t & qos,
       const rosidl_message_type_support_t * req, const rosidl_message_type_support_t * resp)
      : wait_set(n.wait_set()),
        service_name(name),
        endpoints(n, name, qos, req, request_topic_name(name), resp, reply_topic_name(name), "") {}

  // "clientid" of the writer that sent a request, "" when it has none.
  const std::string & client_of_publication(uint64_t publication_handle);
  bool reply_reader_matched(const std::string & client_id);
  void write(const RequestHeader & header, const void * msg);
  // Sends held replies whose reader has been found, or whose time is up.
  void send_held(bool after_match_event);

  struct HeldReply {
    std::string client_id;
    RequestHeader header;
    std::shared_ptr<const void> msg;
    std::chrono::steady_clock::time_point deadline;
  };
  // Woken by the reply writer's match events while replies are held.
  struct MatchWatch : Waitable {
    explicit MatchWatch(Impl & i) : impl(i) {}
    void execute() override { impl.send_held(true); }
    Impl & impl;
  };

  // Not the node itself: rclcpp lets a service outlive its node.
  std::shared_ptr<NodeCore::WaitSet> wait_set;
  std::string service_name;
  EndpointPair endpoints;
  std::unordered_map<uint64_t, std::string> publication_clients;
  std::unordered_map<uint64_t, std::string> subscription_clients;
  std::deque<HeldReply> held;
  MatchWatch match_watch{*this};
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

void ServiceCore::Impl::write(const RequestHeader & header, const void * msg) {
  const dds_return_t rc = write_wire_sample(endpoints.writer.get(), header, msg);
  if (rc < 0) {
    std::cerr << "[WARN] failed to send response to " << service_name << ": " << dds_strretcode(rc)
              << std::endl;
  }
}

void ServiceCore::Impl::send_held(bool after_match_event) {
  if (after_match_event) {
    dds_publication_matched_status_t status;
    dds_get_publication_matched_status(endpoints.writer.get(), &status);  // resets the trigger
  }
  const auto now = std::chrono::steady_clock::now();
  const auto give_up = after_match_event ? now + kMatchDataWait : now;
  while (!held.empty()) {
    // In order: a client's replies never overtake each other.
    for (auto it = held.begin(); it != held.end();) {
      const bool matched = reply_reader_matched(it->client_id);
      if (matched || std::chrono::steady_clock::now() >= it->deadline) {
        write(it->header, it->msg.get());
        it = held.erase(it);
      } else {
        ++it;
      }
    }
    if (held.empty() || std::chrono::steady_clock::now() >= give_up) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

ServiceCore::ServiceCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
                         const rosidl_message_type_support_t * request_type,
                         const rosidl_message_type_support_t * response_type)
    : impl_(new Impl(node, service_name, qos, request_type, response_type)) {
  node.attach(impl_->endpoints.read_condition.get(), this);
  dds_set_status_mask(impl_->endpoints.writer.get(), DDS_PUBLICATION_MATCHED_STATUS);
  node.attach(impl_->endpoints.writer.get(), &impl_->match_watch);
}

ServiceCore::~ServiceCore() {
  impl_->wait_set->detach(impl_->endpoints.writer.get(), &impl_->match_watch);
  impl_->wait_set->detach(impl_->endpoints.read_condition.get(), this);
}

const std::string & ServiceCore::service_name() const {
  return impl_->service_name;
}

void ServiceCore::execute() {
  take_each(impl_->endpoints.reader.get(), [this](const void * sample, const dds_sample_info_t & info) {
    RequestId id;
    if (!read_wire_sample(sample, &id.header, nullptr)) {
      return;
    }
    id.publication_handle = info.publication_handle;
    handle(sample, id);
  });
}

bool ServiceCore::read_request(const void * sample, void * request_msg) const {
  return read_wire_sample(sample, nullptr, request_msg);
}

void ServiceCore::send_response(const RequestId & id, std::shared_ptr<const void> response_msg) {
  auto & impl = *impl_;
  impl.send_held(false);
  const std::string & client_id = impl.client_of_publication(id.publication_handle);
  bool client_has_held = false;
  for (const auto & h : impl.held) {
    client_has_held = client_has_held || h.client_id == client_id;
  }
  // A client that does not say who it is gets its reply at once, as ROS 2
  // servers do.
  if (client_id.empty() || (!client_has_held && impl.reply_reader_matched(client_id))) {
    impl.write(id.header, response_msg.get());
    return;
  }
  if (impl.held.size() >= kMaxHeldReplies) {
    impl.write(impl.held.front().header, impl.held.front().msg.get());
    impl.held.pop_front();
  }
  impl.held.push_back(
      {client_id, id.header, std::move(response_msg), std::chrono::steady_clock::now() + kReplyHoldLimit});
}

}  // namespace rclcpp_compat
