// SPDX-License-Identifier: Apache-2.0
// The floor of the service round trip: a request/reply echo on the node's DDS
// types, topics and QoS, straight on the Cyclone DDS C API with one
// waitset-driven thread and nothing else in the way. Every reply carries the
// request's guid and seq, code 0, an empty msg and --reply-bytes payload
// bytes, so that large answers of the node are compared at equal size.
//
//   bench_echo_floor [--reply-bytes N] [--service NAME]
//
// The domain comes from ROS_DOMAIN_ID, on loopback as the node's. Prints
// "ready" once its endpoints exist; SIGINT or SIGTERM stop it.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include "raw_dds.hpp"

namespace {

volatile sig_atomic_t g_stop = 0;

extern "C" void OnSignal(int) {
  g_stop = 1;
}

// A volatile reply written before the reply writer has matched the client's
// reader is lost, so the node waits up to 100 ms for that reader before it
// answers a new client; so does the floor, which the benchmark gives one
// client at a time.
void WaitForReader(dds_entity_t writer) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  dds_publication_matched_status_t matched{};
  while (dds_get_publication_matched_status(writer, &matched) == DDS_RETCODE_OK &&
         matched.current_count == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int Serve(size_t reply_bytes, const std::string & service) {
  const dds_entity_t participant = bench::CreateParticipant();
  const bench::ServiceEndpoints endpoints(participant, "rq/" + service + "Request", "rr/" + service + "Reply",
                                          "");
  // One reply message for all: only its header changes.
  bench::Srv::Response reply_msg;
  reply_msg.biz_data.assign(reply_bytes, 0x5a);
  rclcpp_compat::WireSample reply;
  reply.message = &reply_msg;
  std::printf("ready\n");
  std::fflush(stdout);
  bool reader_seen = false;
  int failed = 0;
  while (g_stop == 0) {
    dds_attach_t triggered[1];
    dds_waitset_wait(endpoints.waitset, triggered, 1, DDS_MSECS(100));  // bounds how late a stop is seen
    void * samples[1] = {nullptr};
    dds_sample_info_t info;
    while (dds_take(endpoints.reader, samples, &info, 1, 1) > 0) {
      // A loaned sample carries the request header only: the request's
      // fields are never deserialised here.
      const bool valid = info.valid_data;
      if (valid) {
        reply.header = static_cast<const rclcpp_compat::WireSample *>(samples[0])->header;
      }
      dds_return_loan(endpoints.reader, samples, 1);
      if (!valid) {
        continue;  // a departed client's dispose or unregister
      }
      if (!reader_seen) {
        WaitForReader(endpoints.writer);
        reader_seen = true;
      }
      failed += dds_write(endpoints.writer, &reply) < 0 ? 1 : 0;
    }
  }
  dds_delete(participant);
  if (failed != 0) {
    std::fprintf(stderr, "bench_echo_floor: %d replies could not be written\n", failed);
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char ** argv) {
  size_t reply_bytes = 0;
  std::string service = "robot_status_query";
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    try {
      if (i + 1 >= argc || (arg != "--reply-bytes" && arg != "--service")) {
        throw std::invalid_argument(arg);
      }
      if (arg == "--reply-bytes") {
        reply_bytes = std::stoul(argv[i + 1]);
      } else {
        service = argv[i + 1];
      }
    } catch (const std::exception &) {
      std::fprintf(stderr, "usage: %s [--reply-bytes N] [--service NAME]\n", argv[0]);
      return 2;
    }
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  try {
    return Serve(reply_bytes, service);
  } catch (const std::exception & e) {
    std::fprintf(stderr, "bench_echo_floor: %s\n", e.what());
    return 1;
  }
}
