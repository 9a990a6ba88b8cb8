// SPDX-License-Identifier: Apache-2.0
#include "compat_test_support.hpp"

#include <dds/ddsi/ddsi_serdata.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <rclcpp/rclcpp.hpp>
#include <thread>
#include <vector>

#ifndef COMPAT_TEST_DOMAIN_ID
#error "each test executable needs its own COMPAT_TEST_DOMAIN_ID"
#endif

namespace compat_test {

void use_private_domain() {
  setenv("ROS_DOMAIN_ID", std::to_string(COMPAT_TEST_DOMAIN_ID).c_str(), 1);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  unsetenv("CYCLONEDDS_URI");
}

dds_domainid_t private_domain() {
  return static_cast<dds_domainid_t>(COMPAT_TEST_DOMAIN_ID);
}

bool wait_until(const std::function<bool()> & done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return done();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void abandon_hung_test() {
  ADD_FAILURE() << "a call did not return within its bound";
  std::fprintf(stderr, "a call did not return within its bound; ending the test process\n");
  std::fflush(nullptr);
  std::_Exit(EXIT_FAILURE);
}

Spinner::Spinner(std::shared_ptr<rclcpp::Node> node)
    : done_(std::async(std::launch::async, [node] { rclcpp::spin(node); })) {}

Spinner::~Spinner() {
  rclcpp::shutdown();
  get_within(done_);
}

void LayerTest::SetUp() {
  use_private_domain();
  const char * argv[] = {"compat_test"};
  rclcpp::init(1, argv);
}

void LayerTest::TearDown() {
  rclcpp::shutdown();
}

Handle & Handle::operator=(Handle && other) noexcept {
  if (this != &other) {
    if (handle_ > 0) {
      dds_delete(handle_);
    }
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

Handle make_participant() {
  return Handle(dds_create_participant(private_domain(), nullptr, nullptr));
}

namespace {

dds_qos_t * peer_qos() {
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);
  return qos;
}

}  // namespace

Handle make_reader(dds_entity_t participant, dds_entity_t topic) {
  dds_qos_t * qos = peer_qos();
  Handle reader(dds_create_reader(participant, topic, qos, nullptr));
  dds_delete_qos(qos);
  return reader;
}

Handle make_writer(dds_entity_t participant, dds_entity_t topic) {
  dds_qos_t * qos = peer_qos();
  Handle writer(dds_create_writer(participant, topic, qos, nullptr));
  dds_delete_qos(qos);
  return writer;
}

bool wait_publication_matched(dds_entity_t writer, uint32_t count) {
  return wait_until([&] {
    dds_publication_matched_status_t status;
    return dds_get_publication_matched_status(writer, &status) == DDS_RETCODE_OK &&
           status.current_count >= count;
  });
}

bool wait_subscription_matched(dds_entity_t reader, uint32_t count) {
  return wait_until([&] {
    dds_subscription_matched_status_t status;
    return dds_get_subscription_matched_status(reader, &status) == DDS_RETCODE_OK &&
           status.current_count >= count;
  });
}

bool take_serialized(dds_entity_t reader, SerializedSample & out, std::chrono::milliseconds timeout) {
  return wait_until(
      [&] {
        struct ddsi_serdata * data = nullptr;
        dds_sample_info_t info;
        while (dds_takecdr(reader, &data, 1, &info, DDS_ANY_STATE) == 1) {
          const bool valid = info.valid_data;
          if (valid) {
            out.bytes.resize(ddsi_serdata_size(data));
            ddsi_serdata_to_ser(data, 0, out.bytes.size(), out.bytes.data());
            out.info = info;
          }
          ddsi_serdata_unref(data);
          if (valid) {
            return true;
          }
        }
        return false;
      },
      timeout);
}

dds_entity_t find_layer_participant(dds_entity_t ours) {
  dds_entity_t participants[16];
  const dds_return_t n = dds_lookup_participant(private_domain(), participants, 16);
  for (dds_return_t i = 0; i < n && i < 16; ++i) {
    if (participants[i] != ours) {
      return participants[i];
    }
  }
  return 0;
}

dds_entity_t find_endpoint(dds_entity_t participant, const std::string & topic_name, bool writer) {
  for (const dds_entity_t child : rclcpp_compat::children_of(participant)) {
    for (const dds_entity_t endpoint : rclcpp_compat::children_of(child)) {
      const bool is_writer = dds_get_publisher(endpoint) > 0;
      const bool is_reader = !is_writer && dds_get_topic(endpoint) > 0;
      if ((writer ? is_writer : is_reader) && topic_name_of(endpoint) == topic_name) {
        return endpoint;
      }
    }
  }
  return 0;
}

std::string topic_name_of(dds_entity_t endpoint) {
  char name[256] = "";
  if (dds_get_name(dds_get_topic(endpoint), name, sizeof name) < 0) {
    return "";
  }
  return name;
}

std::string type_name_of(dds_entity_t endpoint) {
  char name[256] = "";
  if (dds_get_type_name(dds_get_topic(endpoint), name, sizeof name) < 0) {
    return "";
  }
  return name;
}

std::string user_data_of(const dds_qos_t * qos) {
  void * data = nullptr;
  size_t size = 0;
  if (qos == nullptr || !dds_qget_userdata(qos, &data, &size) || data == nullptr) {
    return "";
  }
  std::string text(static_cast<const char *>(data), size);
  dds_free(data);
  return text;
}

CdrLe & CdrLe::put(uint64_t v, size_t size) {
  align(size);
  for (size_t i = 0; i < size; ++i) {
    bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return *this;
}

void CdrLe::align(size_t n) {
  while ((bytes_.size() - 4) % n != 0) {
    bytes_.push_back(0);
  }
}

CdrLe & CdrLe::str(const std::string & s) {
  u32(static_cast<uint32_t>(s.size() + 1));
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  bytes_.push_back(0);
  return *this;
}

CdrLe & CdrLe::octets(const std::vector<uint8_t> & data) {
  u32(static_cast<uint32_t>(data.size()));
  return raw(data);
}

CdrLe & CdrLe::raw(const std::vector<uint8_t> & data) {
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

std::string hex(const std::vector<uint8_t> & bytes) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += byte;
  }
  return text;
}

}  // namespace compat_test
