// SPDX-License-Identifier: Apache-2.0
// The floor of the service round trip: a request/reply echo on the node's DDS
// types, topics and QoS, written straight on the Cyclone DDS C API with one
// waitset-driven thread and nothing else in the way. Every reply carries the
// request's guid and seq, code 0, an empty msg and --reply-bytes payload bytes,
// so that large answers of the node can be compared at equal size.
//
//   bench_echo_floor [--reply-bytes N] [--service NAME]
//
// The domain comes from ROS_DOMAIN_ID; traffic stays on loopback, as in the
// node's standalone build. Prints "ready" once its endpoints exist; SIGINT or
// SIGTERM stop it, after which it prints its counts on standard error.
#include <dds/dds.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <korvane_protocol/srv/data_center_srv.hpp>

#include "raw_dds.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;

// As long as the node waits for a new client's reply reader.
constexpr auto kReplyMatchWait = std::chrono::milliseconds(100);
constexpr size_t kKnownLimit = 4096;

volatile sig_atomic_t g_stop = 0;

extern "C" void OnSignal(int) {
  g_stop = 1;
}

struct Options {
  size_t reply_bytes = 0;
  std::string service = "robot_status_query";
};

bool ParseSize(const char * text, size_t & value) {
  char * end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > (1ull << 30)) {
    return false;
  }
  value = static_cast<size_t>(parsed);
  return true;
}

bool ParseOptions(int argc, char ** argv, Options & options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--reply-bytes" && i + 1 < argc) {
      if (!ParseSize(argv[++i], options.reply_bytes)) {
        std::fprintf(stderr, "--reply-bytes needs a size up to 1 GiB, got '%s'\n", argv[i]);
        return false;
      }
    } else if (arg == "--service" && i + 1 < argc) {
      options.service = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--reply-bytes N] [--service NAME]\n", argv[0]);
      return false;
    }
  }
  return true;
}

// A volatile reply written before the reply writer has found the client's
// reader is lost. Before the first answer to a request writer, wait (as long
// as the node does) until a reader of the same participant has matched; after
// that the writer is known and costs one set lookup.
class ReplyRoute {
 public:
  ReplyRoute(dds_entity_t reader, dds_entity_t writer) : reader_(reader), writer_(writer) {}

  // False when the client's reader did not match in time (the reply will
  // most likely be lost).
  bool WaitFor(dds_instance_handle_t publication) {
    if (known_.count(publication) != 0u) {
      return true;
    }
    dds_builtintopic_endpoint_t * endpoint = dds_get_matched_publication_data(reader_, publication);
    if (endpoint == nullptr) {
      return false;  // the client has gone already; the reply goes nowhere either way
    }
    const dds_guid_t participant = endpoint->participant_key;
    dds_builtintopic_free_endpoint(endpoint);
    const auto deadline = std::chrono::steady_clock::now() + kReplyMatchWait;
    while (!Matched(participant)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (known_.size() >= kKnownLimit) {
      known_.clear();
    }
    known_.insert(publication);
    return true;
  }

 private:
  bool Matched(const dds_guid_t & participant) const {
    dds_instance_handle_t handles[64];
    const dds_return_t n = dds_get_matched_subscriptions(writer_, handles, 64);
    for (dds_return_t i = 0; i < n && i < 64; ++i) {
      dds_builtintopic_endpoint_t * endpoint = dds_get_matched_subscription_data(writer_, handles[i]);
      if (endpoint == nullptr) {
        continue;
      }
      const bool same = std::memcmp(&endpoint->participant_key, &participant, sizeof participant) == 0;
      dds_builtintopic_free_endpoint(endpoint);
      if (same) {
        return true;
      }
    }
    return false;
  }

  dds_entity_t reader_;
  dds_entity_t writer_;
  std::unordered_set<dds_instance_handle_t> known_;
};

bool Check(dds_entity_t entity, const char * what) {
  if (entity < 0) {
    std::fprintf(stderr, "%s: %s\n", what, dds_strretcode(entity));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char ** argv) {
  Options options;
  dds_domainid_t domain = 0;
  std::string error;
  if (!ParseOptions(argc, argv, options)) {
    return 2;
  }
  if (!bench::DomainFromEnv(domain, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  bench::StopOnSignals(OnSignal);

  const dds_entity_t participant = bench::CreateParticipant(domain);
  if (!Check(participant, "cannot create participant")) {
    return 1;
  }

  const std::string request_topic_name = "rq/" + options.service + "Request";
  const std::string reply_topic_name = "rr/" + options.service + "Reply";
  const dds_entity_t request_topic =
      rclcpp_compat::create_service_wire_topic<Srv::Request>(participant, request_topic_name);
  const dds_entity_t reply_topic =
      rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, reply_topic_name);
  if (!Check(request_topic, "cannot create request topic") ||
      !Check(reply_topic, "cannot create reply topic")) {
    return 1;
  }
  dds_qos_t * qos = bench::ServiceEndpointQos("");
  const dds_entity_t reader = dds_create_reader(participant, request_topic, qos, nullptr);
  const dds_entity_t writer = dds_create_writer(participant, reply_topic, qos, nullptr);
  dds_delete_qos(qos);
  if (!Check(reader, "cannot create reader") || !Check(writer, "cannot create writer")) {
    return 1;
  }
  const dds_entity_t waitset = dds_create_waitset(participant);
  const dds_entity_t readable = dds_create_readcondition(reader, DDS_ANY_STATE);
  if (!Check(waitset, "cannot create waitset") || !Check(readable, "cannot create read condition") ||
      dds_waitset_attach(waitset, readable, 0) < 0) {
    std::fprintf(stderr, "cannot set up the waitset\n");
    return 1;
  }

  // One reply message for all: only its header changes.
  Srv::Response reply_msg;
  reply_msg.code = 0;
  reply_msg.biz_data.assign(options.reply_bytes, 0x5a);
  rclcpp_compat::WireSample reply;
  reply.message = &reply_msg;
  ReplyRoute route(reader, writer);
  std::printf("ready\n");
  std::fflush(stdout);

  unsigned long long answered = 0;
  unsigned long long failed = 0;
  unsigned long long unmatched = 0;
  while (g_stop == 0) {
    dds_attach_t triggered[1];
    // The time-out only bounds how late a stop signal is noticed.
    dds_waitset_wait(waitset, triggered, 1, DDS_MSECS(100));
    for (;;) {
      void * samples[1] = {nullptr};
      dds_sample_info_t info;
      if (dds_take(reader, samples, &info, 1, 1) <= 0) {
        break;
      }
      // A loaned sample carries the request header only: the request's
      // fields are never deserialised here.
      const bool valid = info.valid_data;
      if (valid) {
        reply.header = static_cast<const rclcpp_compat::WireSample *>(samples[0])->header;
      }
      dds_return_loan(reader, samples, 1);
      if (!valid) {
        continue;  // a departed client's dispose or unregister
      }
      if (!route.WaitFor(info.publication_handle)) {
        ++unmatched;
      }
      if (dds_write(writer, &reply) < 0) {
        ++failed;
      } else {
        ++answered;
      }
    }
  }
  std::fprintf(stderr, "answered %llu, failed %llu, replied before the client's reader matched %llu\n",
               answered, failed, unmatched);
  dds_delete(participant);
  return failed == 0 ? 0 : 1;
}
