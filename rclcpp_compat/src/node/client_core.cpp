// SPDX-License-Identifier: Apache-2.0
#include <dds/dds.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <utility>

#include "context/context_impl.hpp"
#include "endpoints/service_endpoint_pair.hpp"
#include "node/node_wait_set.hpp"
#include "rclcpp_compat/core.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp_compat {
namespace {

// Sequence numbers are unique in the process, starting at 1.
std::atomic<int64_t> g_next_sequence{1};
std::atomic<uint64_t> g_client_counter{0};

// Both client endpoints carry the same id so that a server can tell when its
// reply writer has found this client's reader.
std::string make_client_user_data(NodeCore & node) {
  dds_instance_handle_t participant = 0;
  if (dds_get_instance_handle(node.participant(), &participant) < 0) {
    participant = 0;
  }
  char text[64];
  std::snprintf(text, sizeof text, "clientid=%016llx.%llu;", static_cast<unsigned long long>(participant),
                static_cast<unsigned long long>(++g_client_counter));
  return text;
}

// Every client of a service receives the replies to all of them. Those for
// other clients are dropped before they take a place in this client's reader
// history (keep last 10): otherwise a burst of them, arriving while this
// process is not scheduled, pushes its own reply out before it is taken and
// the request is never answered. The id is 0, matching nothing, until the
// request writer exists.
struct ReplyFilter {
  std::atomic<uint64_t> guid{0};
};

// Cyclone hands the filter a sample of its own allocation: the header only.
bool reply_is_for_us(const void * sample, void * arg) {
  const auto * filter = static_cast<const ReplyFilter *>(arg);
  return static_cast<const WireSample *>(sample)->header.guid == filter->guid.load(std::memory_order_relaxed);
}

dds_topic_filter make_topic_filter(ReplyFilter & filter) {
  dds_topic_filter f;
  f.mode = DDS_TOPIC_FILTER_SAMPLE_ARG;
  f.f.sample_arg = reply_is_for_us;
  f.arg = &filter;
  return f;
}

}  // namespace

struct ClientCore::Impl {
  Impl(NodeCore & n, const std::string & name, const rmw_qos_profile_t & qos,
       const rosidl_message_type_support_t * req, const rosidl_message_type_support_t * resp,
       std::shared_ptr<NodeCore::WaitSet> group_wait_set)
      : node_wait_set(n.wait_set()),
        wait_set(group_wait_set ? std::move(group_wait_set) : node_wait_set),
        service_name(name),
        topic_filter(make_topic_filter(reply_filter)),
        endpoints(n, name, qos, resp, reply_topic_name(name), req, request_topic_name(name),
                  make_client_user_data(n), &topic_filter) {
    dds_instance_handle_t handle = 0;
    if (dds_get_instance_handle(endpoints.writer.get(), &handle) < 0) {
      handle = 0;
    }
    guid = handle;
    reply_filter.guid.store(guid, std::memory_order_relaxed);
  }

  bool ready() const {
    dds_publication_matched_status_t pub;
    dds_subscription_matched_status_t sub;
    return dds_get_publication_matched_status(endpoints.writer.get(), &pub) == DDS_RETCODE_OK &&
           dds_get_subscription_matched_status(endpoints.reader.get(), &sub) == DDS_RETCODE_OK &&
           pub.current_count > 0 && sub.current_count > 0;
  }

  // Not the node itself: rclcpp lets a client outlive its node, which stays
  // in the ROS graph while it does.
  std::shared_ptr<NodeCore::WaitSet> node_wait_set;
  // Where the client waits: the node's, or its callback group's.
  std::shared_ptr<NodeCore::WaitSet> wait_set;
  std::string service_name;
  // Declared before the endpoints: the reader uses them until it is deleted.
  ReplyFilter reply_filter;
  dds_topic_filter topic_filter;
  EndpointPair endpoints;
  uint64_t guid = 0;
};

ClientCore::ClientCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
                       const rosidl_message_type_support_t * request_type,
                       const rosidl_message_type_support_t * response_type,
                       std::shared_ptr<NodeCore::WaitSet> group_wait_set)
    : impl_(new Impl(node, service_name, qos, request_type, response_type, std::move(group_wait_set))) {
  impl_->wait_set->attach(impl_->endpoints.read_condition.get(), this);
}

ClientCore::~ClientCore() {
  impl_->wait_set->detach(impl_->endpoints.read_condition.get(), this);
}

const std::string & ClientCore::service_name() const {
  return impl_->service_name;
}

bool ClientCore::service_is_ready() const {
  return impl_->ready();
}

bool ClientCore::wait_for_service_nanoseconds(std::chrono::nanoseconds timeout) {
  auto & context = ContextImpl::instance();
  const auto start = std::chrono::steady_clock::now();
  // Woken by either match status or by shutdown; re-checked at least every
  // 50 ms in case a status change was consumed elsewhere.
  Entity waitset(check_entity(dds_create_waitset(impl_->wait_set->participant), "cannot create waitset"));
  dds_set_status_mask(impl_->endpoints.writer.get(), DDS_PUBLICATION_MATCHED_STATUS);
  dds_set_status_mask(impl_->endpoints.reader.get(), DDS_SUBSCRIPTION_MATCHED_STATUS);
  dds_waitset_attach(waitset.get(), impl_->endpoints.writer.get(), 0);
  dds_waitset_attach(waitset.get(), impl_->endpoints.reader.get(), 0);
  dds_waitset_attach(waitset.get(), context.shutdown_guard(), 0);
  for (;;) {
    if (!context.ok()) {
      return false;
    }
    if (impl_->ready()) {
      return true;
    }
    auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(50));
    if (timeout.count() >= 0) {
      const auto left = timeout - (std::chrono::steady_clock::now() - start);
      if (left <= std::chrono::nanoseconds(0)) {
        return false;
      }
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left));
    }
    dds_attach_t triggered[3];
    dds_waitset_wait(waitset.get(), triggered, 3, wait.count());
  }
}

int64_t ClientCore::send_request(const void * request_msg) {
  const int64_t seq = g_next_sequence.fetch_add(1);
  const dds_return_t rc = write_wire_sample(impl_->endpoints.writer.get(), {impl_->guid, seq}, request_msg);
  if (rc < 0) {
    throw_dds_error("failed to send request on " + impl_->service_name, rc);
  }
  return seq;
}

void ClientCore::execute() {
  take_each(impl_->endpoints.reader.get(), [this](const void * sample, const dds_sample_info_t &) {
    RequestHeader header;
    if (read_wire_sample(sample, &header, nullptr) && header.guid == impl_->guid) {
      on_response(sample, header.seq);  // not a reply to another client of the same service
    }
  });
}

bool ClientCore::read_response(const void * sample, void * response_msg) const {
  return read_wire_sample(sample, nullptr, response_msg);
}

}  // namespace rclcpp_compat
