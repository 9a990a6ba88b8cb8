// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the rclcpp_compat tests: a private DDS domain per test
// executable, a fixture around rclcpp::init/shutdown, raw Cyclone endpoints
// beside the layer's own, and a builder for expected little-endian CDR bytes.
#ifndef RCLCPP_COMPAT__TEST__COMPAT_TEST_SUPPORT_HPP_
#define RCLCPP_COMPAT__TEST__COMPAT_TEST_SUPPORT_HPP_

#include <dds/dds.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp {
class Node;
}  // namespace rclcpp

namespace compat_test {

// Discovery on loopback takes milliseconds; this only bounds a broken run.
constexpr std::chrono::milliseconds kDiscoveryTimeout{10000};

// Points this process at its own ROS_DOMAIN_ID (COMPAT_TEST_DOMAIN_ID), keeps
// it on loopback and drops any inherited CYCLONEDDS_URI. Must run before
// anything creates a participant.
void use_private_domain();
dds_domainid_t private_domain();

// Polls `done` until it holds or `timeout` has passed; returns its last value.
bool wait_until(const std::function<bool()> & done, std::chrono::milliseconds timeout = kDiscoveryTimeout);

// Fails the test and ends the process at once: for a call that never
// returned, whose thread could never be joined.
[[noreturn]] void abandon_hung_test();

// Waits up to `bound` for `f`; see abandon_hung_test.
template <class T>
T get_within(std::future<T> & f, std::chrono::milliseconds bound = kDiscoveryTimeout) {
  if (f.wait_for(bound) != std::future_status::ready) {
    abandon_hung_test();
  }
  return f.get();
}

// Runs rclcpp::spin(node) on a thread of its own until the context shuts down;
// the destructor shuts it down and waits for spin to return.
class Spinner {
 public:
  explicit Spinner(std::shared_ptr<rclcpp::Node> node);
  ~Spinner();
  Spinner(const Spinner &) = delete;
  Spinner & operator=(const Spinner &) = delete;

 private:
  std::future<void> done_;
};

// rclcpp::init with a plain command line before each case, rclcpp::shutdown after.
class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Deletes a DDS entity when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(dds_entity_t handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ > 0) {
      dds_delete(handle_);
    }
  }
  Handle(Handle && other) noexcept : handle_(other.handle_) { other.handle_ = 0; }
  Handle & operator=(Handle && other) noexcept;
  Handle(const Handle &) = delete;
  Handle & operator=(const Handle &) = delete;
  dds_entity_t get() const { return handle_; }

 private:
  dds_entity_t handle_ = 0;
};

// A participant of the test's own in the private domain. Create it after the
// first rclcpp::Node so that the domain runs with the layer's configuration.
Handle make_participant();
// A topic of the layer's DDS type for a service message type (request header
// in front), as a ROS 2 peer sees it.
template <class MsgT>
Handle make_service_topic(dds_entity_t participant, const std::string & name) {
  return Handle(rclcpp_compat::create_service_wire_topic<MsgT>(participant, name));
}
// Reliable, volatile, keep-all endpoints that accept XCDR1, as a ROS 2 peer's.
Handle make_reader(dds_entity_t participant, dds_entity_t topic);
Handle make_writer(dds_entity_t participant, dds_entity_t topic);

// Waits until `writer` has matched at least `count` readers, or `reader` writers.
bool wait_publication_matched(dds_entity_t writer, uint32_t count = 1);
bool wait_subscription_matched(dds_entity_t reader, uint32_t count = 1);

// One sample as it travels: encapsulation header and CDR body.
struct SerializedSample {
  std::vector<uint8_t> bytes;
  dds_sample_info_t info;
};
// Takes the next valid sample of `reader` in serialized form.
bool take_serialized(dds_entity_t reader, SerializedSample & out,
                     std::chrono::milliseconds timeout = kDiscoveryTimeout);

// The layer's participant: the one in the private domain of this process that
// is not `ours`. 0 when there is none.
dds_entity_t find_layer_participant(dds_entity_t ours);
// The writer (or reader) of `participant` on topic `topic_name`, 0 if none.
dds_entity_t find_endpoint(dds_entity_t participant, const std::string & topic_name, bool writer);

std::string topic_name_of(dds_entity_t endpoint);
std::string type_name_of(dds_entity_t endpoint);
std::string user_data_of(const dds_qos_t * qos);

// Expected bytes in XCDR1 little-endian, starting with the encapsulation
// header 00 01 00 00; alignment counts from the byte after it.
class CdrLe {
 public:
  CdrLe() : bytes_{0x00, 0x01, 0x00, 0x00} {}
  CdrLe & u32(uint32_t v) { return put(v, 4); }
  CdrLe & i32(int32_t v) { return put(static_cast<uint32_t>(v), 4); }
  CdrLe & u64(uint64_t v) { return put(v, 8); }
  CdrLe & i64(int64_t v) { return put(static_cast<uint64_t>(v), 8); }
  // Length counts the terminating NUL, as CDR strings do.
  CdrLe & str(const std::string & s);
  CdrLe & octets(const std::vector<uint8_t> & data);
  CdrLe & raw(const std::vector<uint8_t> & data);
  const std::vector<uint8_t> & bytes() const { return bytes_; }

 private:
  CdrLe & put(uint64_t v, size_t size);
  void align(size_t n);
  std::vector<uint8_t> bytes_;
};

std::string hex(const std::vector<uint8_t> & bytes);

}  // namespace compat_test

#endif  // RCLCPP_COMPAT__TEST__COMPAT_TEST_SUPPORT_HPP_
