// SPDX-License-Identifier: Apache-2.0
// Type-erased machinery behind the rclcpp-compatible templates: one DDS
// participant per context, request/reply endpoints, and the wait loop.
#ifndef RCLCPP_COMPAT__CORE_HPP_
#define RCLCPP_COMPAT__CORE_HPP_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "rmw/types.h"
#include "rosidl_runtime_c/message_type_support_struct.h"

namespace rclcpp_compat {

// The header ROS 2 puts in front of every request and reply sample.
struct RequestHeader {
  uint64_t guid = 0;
  int64_t seq = 0;
};

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

// Waits on `wait_set` up to `timeout` (negative: no limit) and runs every
// ready waitable. Returns false once the context has been shut down.
bool wait_and_execute(NodeCore::WaitSet & wait_set, std::chrono::nanoseconds timeout);

// What a callback group made with automatically_add_to_executor_with_node =
// false holds: a wait set of its own, made on first use on the node's
// participant, where its clients wait and which only the executor it was
// added to runs.
class GroupCore {
 public:
  GroupCore();
  ~GroupCore();
  GroupCore(const GroupCore &) = delete;
  GroupCore & operator=(const GroupCore &) = delete;

  std::shared_ptr<NodeCore::WaitSet> wait_set(const std::shared_ptr<NodeCore::WaitSet> & node_wait_set);
  // True for the first caller only: a group belongs to one executor.
  bool associate_with_executor();
  void dissociate_from_executor();

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
  // The message types come as their C++ introspection type support.
  ServiceCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
              const rosidl_message_type_support_t * request_type,
              const rosidl_message_type_support_t * response_type);
  ~ServiceCore() override;
  ServiceCore(const ServiceCore &) = delete;
  ServiceCore & operator=(const ServiceCore &) = delete;

  const std::string & service_name() const;
  void execute() override;

 protected:
  // One request sample; the implementation reads it with read_request and
  // answers through send_response.
  virtual void handle(const void * sample, const RequestId & id) = 0;
  // Deserialises `sample` into `request_msg` (of the request type); false
  // when it cannot be read.
  bool read_request(const void * sample, void * request_msg) const;
  // Sends the reply, or holds it (shared, so it outlives the call) until the
  // client's reply reader has been discovered.
  void send_response(const RequestId & id, std::shared_ptr<const void> response_msg);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class ClientCore : public Waitable {
 public:
  // The client waits on `group_wait_set` when given, else on the node's.
  ClientCore(NodeCore & node, const std::string & service_name, const rmw_qos_profile_t & qos,
             const rosidl_message_type_support_t * request_type,
             const rosidl_message_type_support_t * response_type,
             std::shared_ptr<NodeCore::WaitSet> group_wait_set = nullptr);
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
  // One reply addressed to this client; read it with read_response.
  virtual void on_response(const void * sample, int64_t seq) = 0;
  bool read_response(const void * sample, void * response_msg) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CORE_HPP_
