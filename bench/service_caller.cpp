// SPDX-License-Identifier: Apache-2.0
#include "service_caller.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "raw_dds.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace bench {

volatile std::sig_atomic_t g_stop_requested = 0;

namespace {

using Clock = std::chrono::steady_clock;

// As a ROS 2 process numbers its requests: one counter for all its clients,
// starting at 1. The client is single-threaded.
int64_t g_next_sequence = 1;
unsigned g_client_serial = 0;

// Waits are cut into slices this long so that a stop signal is noticed.
constexpr auto kStopCheck = std::chrono::milliseconds(100);

dds_entity_t Checked(dds_entity_t entity, const std::string & what) {
  if (entity < 0) {
    throw std::runtime_error(what + ": " + dds_strretcode(entity));
  }
  return entity;
}

// Both endpoints carry the same id, as a ROS 2 client's do: a server that
// sees it on the request's writer waits for this client's reply reader before
// it answers, so the first reply is not lost to discovery.
std::string ClientUserData(dds_entity_t participant) {
  dds_instance_handle_t handle = 0;
  if (dds_get_instance_handle(participant, &handle) < 0) {
    handle = 0;
  }
  char text[64];
  std::snprintf(text, sizeof text, "clientid=%016llx.%u;", static_cast<unsigned long long>(handle),
                ++g_client_serial);
  return text;
}

// Replies to other clients of the same service (throughput runs several) are
// dropped before they take a place in the reader's keep-last-10 history, where
// a burst of them could push out this client's own reply. Cyclone hands the
// filter a sample of its own allocation: the header only.
bool ReplyIsOurs(const void * sample, void * arg) {
  return static_cast<const rclcpp_compat::WireSample *>(sample)->header.guid ==
         *static_cast<const uint64_t *>(arg);
}

// Participants of the endpoints matched by `entity`: its readers when it is a
// writer, its writers when it is a reader.
std::vector<dds_guid_t> MatchedParticipants(dds_entity_t entity, bool entity_is_writer) {
  std::vector<dds_instance_handle_t> handles(16);
  for (;;) {
    const dds_return_t n = entity_is_writer
                               ? dds_get_matched_subscriptions(entity, handles.data(), handles.size())
                               : dds_get_matched_publications(entity, handles.data(), handles.size());
    if (n < 0) {
      return {};
    }
    if (static_cast<size_t>(n) <= handles.size()) {
      handles.resize(static_cast<size_t>(n));
      break;
    }
    handles.resize(static_cast<size_t>(n));  // more than room: ask again with enough
  }
  std::vector<dds_guid_t> participants;
  for (const dds_instance_handle_t handle : handles) {
    dds_builtintopic_endpoint_t * endpoint = entity_is_writer
                                                 ? dds_get_matched_subscription_data(entity, handle)
                                                 : dds_get_matched_publication_data(entity, handle);
    if (endpoint != nullptr) {  // null: gone meanwhile, or not fully discovered yet
      participants.push_back(endpoint->participant_key);
      dds_builtintopic_free_endpoint(endpoint);
    }
  }
  return participants;
}

}  // namespace

ServiceCaller::ServiceCaller(dds_entity_t participant, const std::string & service) {
  // The layer's topic types, so the bytes and type names are the node's.
  request_topic_ = Checked(
      rclcpp_compat::create_service_wire_topic<Srv::Request>(participant, "rq/" + service + "Request"),
      "cannot create request topic of " + service);
  reply_topic_ =
      Checked(rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, "rr/" + service + "Reply"),
              "cannot create reply topic of " + service);
  dds_qos_t * qos = ServiceEndpointQos(ClientUserData(participant));
  writer_ = dds_create_writer(participant, request_topic_, qos, nullptr);
  if (writer_ < 0) {
    dds_delete_qos(qos);
    Checked(writer_, "cannot create request writer of " + service);
  }
  dds_instance_handle_t handle = 0;
  if (dds_get_instance_handle(writer_, &handle) < 0) {
    dds_delete_qos(qos);
    throw std::runtime_error("cannot get the request writer's instance handle");
  }
  guid_ = handle;
  dds_topic_filter filter;
  filter.mode = DDS_TOPIC_FILTER_SAMPLE_ARG;
  filter.f.sample_arg = ReplyIsOurs;
  filter.arg = &guid_;
  // The topic entity is this reader's own; Cyclone wants the filter in place
  // before the reader exists.
  const dds_return_t filtered = dds_set_topic_filter_extended(reply_topic_, &filter);
  if (filtered != DDS_RETCODE_OK) {
    dds_delete_qos(qos);
    Checked(filtered, "cannot filter the reply topic of " + service);
  }
  reader_ = dds_create_reader(participant, reply_topic_, qos, nullptr);
  dds_delete_qos(qos);
  Checked(reader_, "cannot create reply reader of " + service);
  readable_ = Checked(dds_create_readcondition(reader_, DDS_ANY_STATE), "cannot create read condition");
  reply_waitset_ = Checked(dds_create_waitset(participant), "cannot create waitset");
  Checked(dds_waitset_attach(reply_waitset_, readable_, 0), "cannot attach the read condition");
  // Woken by either side's match status.
  match_waitset_ = Checked(dds_create_waitset(participant), "cannot create waitset");
  dds_set_status_mask(writer_, DDS_PUBLICATION_MATCHED_STATUS);
  dds_set_status_mask(reader_, DDS_SUBSCRIPTION_MATCHED_STATUS);
  Checked(dds_waitset_attach(match_waitset_, writer_, 0), "cannot attach the request writer");
  Checked(dds_waitset_attach(match_waitset_, reader_, 0), "cannot attach the reply reader");
}

ServiceCaller::~ServiceCaller() {
  // Waitsets first, then the reader before the topic whose filter reads guid_.
  for (const dds_entity_t entity :
       {match_waitset_, reply_waitset_, readable_, reader_, writer_, reply_topic_, request_topic_}) {
    if (entity > 0) {
      dds_delete(entity);
    }
  }
}

bool ServiceCaller::ServerMatched() {
  // Reading the statuses also resets their trigger on the match waitset.
  dds_publication_matched_status_t pub;
  dds_subscription_matched_status_t sub;
  if (dds_get_publication_matched_status(writer_, &pub) != DDS_RETCODE_OK ||
      dds_get_subscription_matched_status(reader_, &sub) != DDS_RETCODE_OK || pub.current_count == 0 ||
      sub.current_count == 0) {
    return false;
  }
  const std::vector<dds_guid_t> request_readers = MatchedParticipants(writer_, true);
  for (const dds_guid_t & writer_participant : MatchedParticipants(reader_, false)) {
    for (const dds_guid_t & reader_participant : request_readers) {
      if (std::memcmp(&writer_participant, &reader_participant, sizeof writer_participant) == 0) {
        return true;
      }
    }
  }
  return false;
}

bool ServiceCaller::WaitForService(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (g_stop_requested != 0) {
      return false;
    }
    if (ServerMatched()) {
      return true;
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
      return false;
    }
    // Re-checked at least this often: endpoint data may complete without a
    // further status change.
    const auto slice = std::min<Clock::duration>(left, std::chrono::milliseconds(10));
    dds_attach_t triggered[2];
    dds_waitset_wait(match_waitset_, triggered, 2,
                     std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count());
  }
}

bool ServiceCaller::Call(const Srv::Request & request, std::chrono::milliseconds limit,
                         Srv::Response & response) {
  const int64_t seq = g_next_sequence++;
  rclcpp_compat::WireSample out;
  out.header.guid = guid_;
  out.header.seq = seq;
  out.message = const_cast<Srv::Request *>(&request);  // only read by dds_write
  if (dds_write(writer_, &out) < 0) {
    return false;
  }
  const auto deadline = Clock::now() + limit;
  rclcpp_compat::WireSample in;
  in.message = &response;
  void * buffer[1] = {&in};
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero() || g_stop_requested != 0) {
      return false;
    }
    const auto slice = std::min<Clock::duration>(left, kStopCheck);
    dds_attach_t triggered[1];
    if (dds_waitset_wait(reply_waitset_, triggered, 1,
                         std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count()) <= 0) {
      continue;
    }
    dds_sample_info_t info;
    while (dds_take(reader_, buffer, &info, 1, 1) > 0) {
      // Anything else is a dispose of a departed server or the late reply to
      // a request that timed out.
      if (info.valid_data && in.header.guid == guid_ && in.header.seq == seq) {
        return true;
      }
    }
  }
}

}  // namespace bench
