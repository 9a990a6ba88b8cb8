// SPDX-License-Identifier: Apache-2.0
// The benchmark's client of robot_status_query: a bare Cyclone DDS requester
// on the layer's wire types, with nothing between the measured round trip and
// the wire but dds_write, a waitset and dds_take, so that the client's own
// cost does not hide the server's. It speaks the ROS 2 service wire: request
// header guid = its request writer's instance handle, seq from 1 per process,
// replies matched by that header.
#ifndef DATA_CENTER_BENCH_SERVICE_CALLER_HPP_
#define DATA_CENTER_BENCH_SERVICE_CALLER_HPP_

#include <dds/dds.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>

#include <korvane_protocol/srv/data_center_srv.hpp>

namespace bench {

using Srv = korvane_protocol::srv::DataCenterSrv;

// Set from a signal handler: waits end early and calls give up.
extern volatile std::sig_atomic_t g_stop_requested;

class ServiceCaller {
 public:
  // `participant` is the process's one participant (see CreateParticipant);
  // throws std::runtime_error when an endpoint cannot be created.
  ServiceCaller(dds_entity_t participant, const std::string & service);
  ~ServiceCaller();
  ServiceCaller(const ServiceCaller &) = delete;
  ServiceCaller & operator=(const ServiceCaller &) = delete;

  // True once a server's request reader and reply writer (one participant
  // holding both) have matched this client's writer and reader.
  bool WaitForService(std::chrono::milliseconds limit);
  // Writes one request and takes replies until the one with this request's
  // guid and seq. False on time-out or stop; a late reply is dropped later by
  // its seq. `response` is overwritten, its buffers reused.
  bool Call(const Srv::Request & request, std::chrono::milliseconds limit, Srv::Response & response);

 private:
  bool ServerMatched();

  dds_entity_t request_topic_ = 0;
  dds_entity_t reply_topic_ = 0;
  dds_entity_t writer_ = 0;
  dds_entity_t reader_ = 0;
  dds_entity_t readable_ = 0;
  dds_entity_t reply_waitset_ = 0;
  dds_entity_t match_waitset_ = 0;
  // Read by the reply topic's filter, which Cyclone runs on its own threads;
  // set before the reader exists and never changed.
  uint64_t guid_ = 0;
};

}  // namespace bench

#endif  // DATA_CENTER_BENCH_SERVICE_CALLER_HPP_
