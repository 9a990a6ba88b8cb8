// Type-erased machinery behind the rclcpp-compatible templates: one DDS
// participant per context, request/reply endpoints, and the wait loop.
#ifndef RCLCPP_COMPAT__CORE_HPP_
#define RCLCPP_COMPAT__CORE_HPP_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "rmw/types.h"

struct dds_topic_descriptor;

namespace rclcpp_compat {

// The header ROS 2 puts in front of every request and reply sample.
struct RequestHeader {
  uint64_t guid = 0;
  int64_t seq = 0;
};

// How one message type travels: its DDS type and the conversions between the
// C++ message and the DDS sample (header first, then the fields).
struct MessageWire {
  const dds_topic_descriptor * descriptor;
  // Writes `msg` behind `header` on `writer`; returns a dds_return_t.
  int32_t (*write)(int32_t writer, const RequestHeader & header, const void * msg);
  RequestHeader (*read_header)(const void * sample);
  void (*read)(const void * sample, void * msg);
};

// Specialised for every message type that can travel (see wire_types.hpp).
template <class MsgT>
const MessageWire & message_wire();

// Something the wait loop runs when its DDS condition triggers.
class Waitable {
 public:
  virtual ~Waitable() = default;
  virtual void execute() = 0;
};

class NodeCore {
 public:
  // Resolves remapping of name and namespace; throws on invalid names or when
  // rclcpp::init has not run.
  NodeCore(const std::string & name, const std::string & ns);
  ~NodeCore();
  NodeCore(const NodeCore &) = delete;
  NodeCore & operator=(const NodeCore &) = delete;

  const std::string & name() const;
  const std::string & ns() const;
  std::string fully_qualified_name() const;
  // Expands a relative or private service name and applies -r rules.
  std::string resolve_service_name(const std::string & name) const;

  int32_t participant() const;
  void attach(int32_t condition, Waitable * waitable);
  void detach(int32_t condition, Waitable * waitable);

  // Waits up to `timeout` (negative: no limit) and runs every ready waitable.
  // Returns false once the context has been shut down.
  bool wait_and_execute(std::chrono::nanoseconds timeout);

  // The node's wait set, which its clients and services share: rclcpp lets
  // them outlive the node.
  struct WaitSet;
  std::shared_ptr<WaitSet> wait_set() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct RequestId {
  RequestHeader header;
  uint64_t publication_handle = 0;
};

class ServiceCore : public Waitable {
 public:
  ServiceCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
              const MessageWire & request_wire, const MessageWire & response_wire);
  ~ServiceCore() override;
  ServiceCore(const ServiceCore &) = delete;
  ServiceCore & operator=(const ServiceCore &) = delete;

  const std::string & service_name() const;
  void execute() override;

 protected:
  // One request sample; the implementation answers through send_response.
  virtual void handle(const void * sample, const RequestId & id) = 0;
  // Sends the reply, or holds it (shared, so it outlives the call) until the
  // client's reply reader has been discovered.
  void send_response(const RequestId & id, std::shared_ptr<const void> response_msg);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class ClientCore : public Waitable {
 public:
  ClientCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
             const MessageWire & request_wire, const MessageWire & response_wire);
  ~ClientCore() override;
  ClientCore(const ClientCore &) = delete;
  ClientCore & operator=(const ClientCore &) = delete;

  const std::string & service_name() const;
  bool service_is_ready() const;
  // Negative timeout waits without limit; false on time-out or shutdown.
  bool wait_for_service_nanoseconds(std::chrono::nanoseconds timeout);
  void execute() override;

 protected:
  // Writes one request; returns its sequence number. Throws RCLError.
  int64_t send_request(const void * request_msg);
  // One reply addressed to this client.
  virtual void on_response(const void * sample, int64_t seq) = 0;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CORE_HPP_
