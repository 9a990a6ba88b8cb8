// SPDX-License-Identifier: Apache-2.0
// What the layer puts on the wire, observed with plain Cyclone endpoints in
// the same domain: topic and type names, the exact serialized bytes of
// requests and replies, endpoint QoS and participant USER_DATA. A ROS 2
// Humble peer over rmw_cyclonedds_cpp expects exactly these.
#include <dds/dds.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <compat_test_msgs/srv/probe.hpp>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <memory>
#include <rclcpp/rclcpp.hpp>
#include <string>
#include <vector>

#include "compat_test_support.hpp"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using compat_test::CdrLe;
using compat_test::hex;
using compat_test::SerializedSample;

std::vector<uint8_t> le64(uint64_t v) {
  std::vector<uint8_t> out;
  for (int i = 0; i < 8; ++i) {
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return out;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto & part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

class WireTest : public compat_test::LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    // The layer's participant comes first so that the domain runs with its
    // loopback configuration; ours joins it.
    node_ = std::make_shared<rclcpp::Node>("wire_probe");
    participant_ = compat_test::make_participant();
    ASSERT_GT(participant_.get(), 0);
  }

  void TearDown() override {
    node_.reset();
    LayerTest::TearDown();
  }

  rclcpp::Node::SharedPtr node_;
  compat_test::Handle participant_;
};

// One round trip between a layer client and a layer service, both directions
// captured on their topics. The expected bytes are spelled out: XCDR1
// little-endian, header then fields, alignment counted after the 4-byte
// encapsulation.
TEST_F(WireTest, RequestAndReplyBytesOfARoundTrip) {
  auto service = node_->create_service<Srv>(
      "robot_status_query",
      [](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        response->code = request->cmd_id + 100;
        response->msg = request->cmd_id == 7 ? "ok" : "";
        response->biz_data.assign(request->biz_data.rbegin(), request->biz_data.rend());
      });
  auto client = node_->create_client<Srv>("robot_status_query");

  auto rq_topic =
      compat_test::make_service_topic<Srv::Request>(participant_.get(), "rq/robot_status_queryRequest");
  auto rr_topic =
      compat_test::make_service_topic<Srv::Response>(participant_.get(), "rr/robot_status_queryReply");
  auto rq_reader = compat_test::make_reader(participant_.get(), rq_topic.get());
  auto rr_reader = compat_test::make_reader(participant_.get(), rr_topic.get());
  ASSERT_GT(rq_reader.get(), 0);
  ASSERT_GT(rr_reader.get(), 0);
  // Our readers hear the client's request writer and the service's reply writer.
  ASSERT_TRUE(compat_test::wait_subscription_matched(rq_reader.get()));
  ASSERT_TRUE(compat_test::wait_subscription_matched(rr_reader.get()));
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  const dds_entity_t layer = compat_test::find_layer_participant(participant_.get());
  const dds_entity_t client_writer = compat_test::find_endpoint(layer, "rq/robot_status_queryRequest", true);
  ASSERT_GT(client_writer, 0);
  dds_instance_handle_t client_handle = 0;
  ASSERT_EQ(dds_get_instance_handle(client_writer, &client_handle), DDS_RETCODE_OK);

  // First request: payload length a multiple of 4, reply string needing one
  // byte of padding before the payload length.
  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = 7;
  request->biz_data = {0xde, 0xad, 0xbe, 0xef};
  auto first = client->async_send_request(request);
  const int64_t seq1 = first.request_id;
  ASSERT_EQ(rclcpp::spin_until_future_complete(node_, first.future, compat_test::kDiscoveryTimeout),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_GE(seq1, 1);

  SerializedSample rq;
  ASSERT_TRUE(compat_test::take_serialized(rq_reader.get(), rq));
  EXPECT_EQ(rq.info.publication_handle, client_handle);
  const auto expected_rq1 = concat({{0x00, 0x01, 0x00, 0x00},  // XCDR1, little-endian, no options
                                    le64(client_handle),
                                    le64(static_cast<uint64_t>(seq1)),
                                    {0x07, 0x00, 0x00, 0x00},  // cmd_id
                                    {0x04, 0x00, 0x00, 0x00},  // biz_data length
                                    {0xde, 0xad, 0xbe, 0xef}});
  EXPECT_EQ(hex(rq.bytes), hex(expected_rq1));

  SerializedSample rr;
  ASSERT_TRUE(compat_test::take_serialized(rr_reader.get(), rr));
  const auto expected_rr1 = concat({{0x00, 0x01, 0x00, 0x00},
                                    le64(client_handle),  // guid and seq echoed
                                    le64(static_cast<uint64_t>(seq1)),
                                    {0x6b, 0x00, 0x00, 0x00},  // code 107
                                    {0x03, 0x00, 0x00, 0x00},  // msg length, NUL included
                                    {'o', 'k', 0x00},
                                    {0x00},                    // align to 4
                                    {0x04, 0x00, 0x00, 0x00},  // biz_data length
                                    {0xef, 0xbe, 0xad, 0xde}});
  EXPECT_EQ(hex(rr.bytes), hex(expected_rr1));

  // Second request: a negative command, an odd payload, an empty reply text.
  request->cmd_id = -2;
  request->biz_data = {0x01, 0x02, 0x03};
  auto second = client->async_send_request(request);
  const int64_t seq2 = second.request_id;
  ASSERT_EQ(rclcpp::spin_until_future_complete(node_, second.future, compat_test::kDiscoveryTimeout),
            rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_GT(seq2, seq1);

  ASSERT_TRUE(compat_test::take_serialized(rq_reader.get(), rq));
  // A body whose size is not a multiple of 4 is padded with zeros, and the
  // number of padding bytes is in the low bits of the options (00 01 00 01).
  const auto expected_rq2 = concat({{0x00, 0x01, 0x00, 0x01},
                                    le64(client_handle),
                                    le64(static_cast<uint64_t>(seq2)),
                                    {0xfe, 0xff, 0xff, 0xff},
                                    {0x03, 0x00, 0x00, 0x00},
                                    {0x01, 0x02, 0x03},
                                    {0x00}});
  EXPECT_EQ(hex(rq.bytes), hex(expected_rq2));

  ASSERT_TRUE(compat_test::take_serialized(rr_reader.get(), rr));
  const auto expected_rr2 = concat({{0x00, 0x01, 0x00, 0x01},
                                    le64(client_handle),
                                    le64(static_cast<uint64_t>(seq2)),
                                    {0x62, 0x00, 0x00, 0x00},  // code 98
                                    {0x01, 0x00, 0x00, 0x00},  // "" is one NUL
                                    {0x00},
                                    {0x00, 0x00, 0x00},
                                    {0x03, 0x00, 0x00, 0x00},
                                    {0x03, 0x02, 0x01},
                                    {0x00}});
  EXPECT_EQ(hex(rr.bytes), hex(expected_rr2));

  const auto response = second.future.get();
  EXPECT_EQ(response->code, 98);
  EXPECT_EQ(response->msg, "");
  EXPECT_EQ(response->biz_data, (std::vector<uint8_t>{0x03, 0x02, 0x01}));
}

// A request from a foreign peer with a header the layer did not make: the
// reply carries it back unchanged, including the top bits.
TEST_F(WireTest, ReplyEchoesAForeignRequestHeader) {
  auto service = node_->create_service<Srv>(
      "wire_foreign", [](std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        response->code = request->cmd_id;
        response->msg = "abc";  // with its NUL exactly 4 bytes: no padding
        response->biz_data = request->biz_data;
      });
  auto rq_topic = compat_test::make_service_topic<Srv::Request>(participant_.get(), "rq/wire_foreignRequest");
  auto rr_topic = compat_test::make_service_topic<Srv::Response>(participant_.get(), "rr/wire_foreignReply");
  auto rq_writer = compat_test::make_writer(participant_.get(), rq_topic.get());
  auto rr_reader = compat_test::make_reader(participant_.get(), rr_topic.get());
  ASSERT_TRUE(compat_test::wait_publication_matched(rq_writer.get()));
  ASSERT_TRUE(compat_test::wait_subscription_matched(rr_reader.get()));

  compat_test::Spinner spinner(node_);
  Srv::Request request;
  request.cmd_id = 0x11223344;
  request.biz_data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  rclcpp_compat::WireSample sample;
  sample.header.guid = 0xfedcba9876543210ull;
  sample.header.seq = 0x7fffffff00000001ll;
  sample.message = &request;
  ASSERT_EQ(dds_write(rq_writer.get(), &sample), DDS_RETCODE_OK);

  SerializedSample rr;
  ASSERT_TRUE(compat_test::take_serialized(rr_reader.get(), rr));
  const auto expected = CdrLe()
                            .u64(0xfedcba9876543210ull)
                            .i64(0x7fffffff00000001ll)
                            .i32(0x11223344)
                            .str("abc")
                            .octets({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80})
                            .bytes();
  EXPECT_EQ(hex(rr.bytes), hex(expected));
}

// Any interface type travels, not only the node's: a service of a test-only
// type with every field kind, between a layer client and a layer service,
// under ROS 2's type names.
TEST_F(WireTest, AnyInterfaceTypeTravelsBetweenClientAndService) {
  using Probe = compat_test_msgs::srv::Probe;
  auto service = node_->create_service<Probe>("wire_any_type", [](std::shared_ptr<Probe::Request> request,
                                                                  std::shared_ptr<Probe::Response> response) {
    response->primitives = request->primitives;
    response->inners = request->containers.inner_list;
  });
  auto client = node_->create_client<Probe>("wire_any_type");
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  auto request = std::make_shared<Probe::Request>();
  request->primitives.flag = true;
  request->primitives.i64 = -1;
  request->primitives.f64 = 0.25;
  request->primitives.text = "text";
  request->primitives.wide = u"w";
  request->containers.bools = {true, false, true};
  request->containers.inner_list.resize(3);
  for (uint8_t i = 0; i < 3; ++i) {
    request->containers.inner_list[i].tag = i;
    request->containers.inner_list[i].name = std::string(i, 'n');
  }
  auto pending = client->async_send_request(request);
  ASSERT_EQ(rclcpp::spin_until_future_complete(node_, pending.future, compat_test::kDiscoveryTimeout),
            rclcpp::FutureReturnCode::SUCCESS);
  const auto response = pending.future.get();
  EXPECT_EQ(response->primitives, request->primitives);
  EXPECT_EQ(response->inners, request->containers.inner_list);

  const dds_entity_t layer = compat_test::find_layer_participant(participant_.get());
  const dds_entity_t request_writer = compat_test::find_endpoint(layer, "rq/wire_any_typeRequest", true);
  const dds_entity_t reply_writer = compat_test::find_endpoint(layer, "rr/wire_any_typeReply", true);
  ASSERT_GT(request_writer, 0);
  ASSERT_GT(reply_writer, 0);
  EXPECT_EQ(compat_test::type_name_of(request_writer), "compat_test_msgs::srv::dds_::Probe_Request_");
  EXPECT_EQ(compat_test::type_name_of(reply_writer), "compat_test_msgs::srv::dds_::Probe_Response_");
}

void expect_service_qos(dds_entity_t endpoint, bool writer) {
  SCOPED_TRACE(compat_test::topic_name_of(endpoint));
  dds_qos_t * qos = dds_create_qos();
  ASSERT_EQ(dds_get_qos(endpoint, qos), DDS_RETCODE_OK);
  dds_reliability_kind_t reliability;
  dds_duration_t blocking;
  ASSERT_TRUE(dds_qget_reliability(qos, &reliability, &blocking));
  EXPECT_EQ(reliability, DDS_RELIABILITY_RELIABLE);
  dds_durability_kind_t durability;
  ASSERT_TRUE(dds_qget_durability(qos, &durability));
  EXPECT_EQ(durability, DDS_DURABILITY_VOLATILE);
  dds_history_kind_t history;
  int32_t depth = 0;
  ASSERT_TRUE(dds_qget_history(qos, &history, &depth));
  EXPECT_EQ(history, DDS_HISTORY_KEEP_LAST);
  EXPECT_EQ(depth, 10);
  uint32_t n = 0;
  dds_data_representation_id_t * representations = nullptr;
  ASSERT_TRUE(dds_qget_data_representation(qos, &n, &representations));
  ASSERT_GE(n, 1u);
  EXPECT_EQ(representations[0], DDS_DATA_REPRESENTATION_XCDR1);
  dds_free(representations);
  uint32_t partitions = 0;
  char ** names = nullptr;
  if (dds_qget_partition(qos, &partitions, &names)) {
    for (uint32_t i = 0; i < partitions; ++i) {
      EXPECT_STREQ(names[i], "");
      dds_free(names[i]);
    }
    dds_free(names);
  }
  if (writer) {
    bool autodispose = true;
    ASSERT_TRUE(dds_qget_writer_data_lifecycle(qos, &autodispose));
    EXPECT_FALSE(autodispose);
  }
  dds_delete_qos(qos);
}

// Names, types and QoS as both the local entities and a remote peer (through
// discovery) see them; a service in a namespace gets the namespace in its
// topic names.
TEST_F(WireTest, EndpointsCarryRosNamesTypesAndServiceQos) {
  auto ns_node = std::make_shared<rclcpp::Node>("probe", "/wire_ns");
  auto service = ns_node->create_service<Srv>(
      "robot_status_query", [](std::shared_ptr<Srv::Request>, std::shared_ptr<Srv::Response>) {});
  auto client = node_->create_client<Srv>("/wire_ns/robot_status_query");
  EXPECT_STREQ(service->get_service_name(), "/wire_ns/robot_status_query");
  ASSERT_TRUE(client->wait_for_service(compat_test::kDiscoveryTimeout));

  const std::string rq_name = "rq/wire_ns/robot_status_queryRequest";
  const std::string rr_name = "rr/wire_ns/robot_status_queryReply";
  const dds_entity_t layer = compat_test::find_layer_participant(participant_.get());
  ASSERT_GT(layer, 0);
  const dds_entity_t client_writer = compat_test::find_endpoint(layer, rq_name, true);
  const dds_entity_t client_reader = compat_test::find_endpoint(layer, rr_name, false);
  const dds_entity_t service_reader = compat_test::find_endpoint(layer, rq_name, false);
  const dds_entity_t service_writer = compat_test::find_endpoint(layer, rr_name, true);
  ASSERT_GT(client_writer, 0);
  ASSERT_GT(client_reader, 0);
  ASSERT_GT(service_reader, 0);
  ASSERT_GT(service_writer, 0);

  const std::string request_type = "korvane_protocol::srv::dds_::DataCenterSrv_Request_";
  const std::string response_type = "korvane_protocol::srv::dds_::DataCenterSrv_Response_";
  EXPECT_EQ(compat_test::type_name_of(client_writer), request_type);
  EXPECT_EQ(compat_test::type_name_of(service_reader), request_type);
  EXPECT_EQ(compat_test::type_name_of(client_reader), response_type);
  EXPECT_EQ(compat_test::type_name_of(service_writer), response_type);
  expect_service_qos(client_writer, true);
  expect_service_qos(client_reader, false);
  expect_service_qos(service_reader, false);
  expect_service_qos(service_writer, true);

  // Both client endpoints carry the same client id, so a server can pair them.
  dds_qos_t * qos = dds_create_qos();
  ASSERT_EQ(dds_get_qos(client_writer, qos), DDS_RETCODE_OK);
  const std::string writer_data = compat_test::user_data_of(qos);
  ASSERT_EQ(dds_get_qos(client_reader, qos), DDS_RETCODE_OK);
  const std::string reader_data = compat_test::user_data_of(qos);
  dds_delete_qos(qos);
  EXPECT_EQ(writer_data.rfind("clientid=", 0), 0u) << writer_data;
  EXPECT_EQ(writer_data.back(), ';');
  EXPECT_EQ(writer_data, reader_data);

  // What a remote peer learns through discovery.
  auto rq_topic = compat_test::make_service_topic<Srv::Request>(participant_.get(), rq_name);
  auto rq_reader = compat_test::make_reader(participant_.get(), rq_topic.get());
  ASSERT_TRUE(compat_test::wait_subscription_matched(rq_reader.get()));
  dds_instance_handle_t handles[8];
  const dds_return_t matched = dds_get_matched_publications(rq_reader.get(), handles, 8);
  ASSERT_EQ(matched, 1);
  dds_builtintopic_endpoint_t * publication = dds_get_matched_publication_data(rq_reader.get(), handles[0]);
  ASSERT_NE(publication, nullptr);
  EXPECT_STREQ(publication->topic_name, rq_name.c_str());
  EXPECT_STREQ(publication->type_name, request_type.c_str());
  dds_reliability_kind_t reliability;
  dds_duration_t blocking;
  ASSERT_TRUE(dds_qget_reliability(publication->qos, &reliability, &blocking));
  EXPECT_EQ(reliability, DDS_RELIABILITY_RELIABLE);
  dds_durability_kind_t durability;
  ASSERT_TRUE(dds_qget_durability(publication->qos, &durability));
  EXPECT_EQ(durability, DDS_DURABILITY_VOLATILE);
  EXPECT_EQ(compat_test::user_data_of(publication->qos), writer_data);
  dds_builtintopic_free_endpoint(publication);
}

TEST_F(WireTest, ParticipantAnnouncesRootEnclave) {
  const dds_entity_t layer = compat_test::find_layer_participant(participant_.get());
  ASSERT_GT(layer, 0);
  dds_qos_t * qos = dds_create_qos();
  ASSERT_EQ(dds_get_qos(layer, qos), DDS_RETCODE_OK);
  EXPECT_EQ(compat_test::user_data_of(qos), "enclave=/;");
  uint32_t partitions = 0;
  char ** names = nullptr;
  if (dds_qget_partition(qos, &partitions, &names)) {
    EXPECT_EQ(partitions, 0u);
    for (uint32_t i = 0; i < partitions; ++i) {
      dds_free(names[i]);
    }
    dds_free(names);
  }
  dds_delete_qos(qos);

  // And as discovery carries it to other participants.
  dds_guid_t layer_guid;
  ASSERT_EQ(dds_get_guid(layer, &layer_guid), DDS_RETCODE_OK);
  compat_test::Handle builtin(
      dds_create_reader(participant_.get(), DDS_BUILTIN_TOPIC_DCPSPARTICIPANT, nullptr, nullptr));
  ASSERT_GT(builtin.get(), 0);
  std::string announced;
  const bool found = compat_test::wait_until([&] {
    void * samples[16] = {nullptr};
    dds_sample_info_t infos[16];
    const dds_return_t n = dds_read(builtin.get(), samples, infos, 16, 16);
    bool seen = false;
    for (dds_return_t i = 0; i < n; ++i) {
      const auto * p = static_cast<const dds_builtintopic_participant_t *>(samples[i]);
      if (infos[i].valid_data &&
          std::equal(std::begin(p->key.v), std::end(p->key.v), std::begin(layer_guid.v))) {
        announced = compat_test::user_data_of(p->qos);
        seen = true;
      }
    }
    if (n > 0) {
      dds_return_loan(builtin.get(), samples, n);
    }
    return seen;
  });
  ASSERT_TRUE(found);
  EXPECT_EQ(announced, "enclave=/;");
}

}  // namespace
