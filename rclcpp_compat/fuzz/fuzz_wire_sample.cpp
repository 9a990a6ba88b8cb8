// Arbitrary serialized samples (encapsulation header included) of the two
// service message types, taken the way the middleware takes them: Cyclone
// DDS validates and deserialises the bytes with the type's own sertype, and
// only what it accepts reaches the layer's read functions.
//
// Requests go the whole way: written (as already serialized data) to the
// request topic of a real rclcpp_compat service in the same participant,
// taken by the service, read into a korvane_protocol request, answered by an
// echo callback, and the reply taken from the reply topic. Replies are
// deserialised the same way and read into a korvane_protocol response.
#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <korvane_protocol/srv/data_center_srv.hpp>
#include <rclcpp/rclcpp.hpp>

#include "fuzz_check.hpp"
#include "korvane_protocol_srv.h"
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using DdsRequest = korvane_protocol_srv_dds__DataCenterSrv_Request_;
using DdsResponse = korvane_protocol_srv_dds__DataCenterSrv_Response_;

// Own domain: nothing else on this machine sees these samples.
constexpr char kDomainId[] = FUZZ_DOMAIN_ID;
constexpr char kService[] = "wire_fuzz";

struct Harness {
  rclcpp::Node::SharedPtr node;
  rclcpp::Service<Srv>::SharedPtr service;
  dds_entity_t request_writer = 0;
  dds_entity_t reply_reader = 0;
  const ddsi_sertype * request_type = nullptr;
  const ddsi_sertype * response_type = nullptr;
  int calls = 0;
  std::shared_ptr<Srv::Request> last_request;
};

Harness * g_harness = nullptr;

// Cyclone is a system library without coverage instrumentation, so libFuzzer
// cannot see which way its deserialiser went. These counters tell it: per
// message type, encoding identifier, verdict and size class of the input and
// of the payload read, so that inputs reaching a new outcome are kept.
constexpr size_t kSizeClasses = 14;
__attribute__((used, section("__libfuzzer_extra_counters")))
uint8_t g_outcomes[2][8][2][kSizeClasses][kSizeClasses];

size_t SizeClass(size_t n) {
  size_t c = 0;
  while (n != 0 && c + 1 < kSizeClasses) {
    n >>= 1;
    ++c;
  }
  return c;
}

void NoteOutcome(int type, const uint8_t * data, size_t size, bool accepted, size_t payload) {
  const size_t encoding = size >= 2 ? data[1] & 7u : 0;
  uint8_t & counter = g_outcomes[type][encoding][accepted ? 1 : 0][SizeClass(size)][SizeClass(payload)];
  if (counter != 255) {
    ++counter;
  }
}

std::vector<uint8_t> BytesOf(const dds_sequence_octet & seq) {
  if (seq._buffer == nullptr) {
    FUZZ_CHECK(seq._length == 0, "sequence of %u bytes without a buffer", seq._length);
    return {};
  }
  return std::vector<uint8_t>(seq._buffer, seq._buffer + seq._length);
}

dds_qos_t * EndpointQos() {
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
  dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);
  return qos;
}

dds_entity_t Checked(dds_entity_t entity, const char * what) {
  FUZZ_CHECK(entity > 0, "%s: %s", what, dds_strretcode(entity));
  return entity;
}

// One reply from the service, as a serialized sample.
ddsi_serdata * TakeReplyCdr(Harness & h) {
  ddsi_serdata * reply = nullptr;
  dds_sample_info_t info;
  const dds_return_t n = dds_takecdr(h.reply_reader, &reply, 1, &info, 0);
  FUZZ_CHECK(n == 1 && info.valid_data, "no reply from the service (%d)", static_cast<int>(n));
  return reply;
}

void Setup() {
  setenv("ROS_DOMAIN_ID", kDomainId, 1);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  const char * argv[] = {"fuzz_wire_sample"};
  rclcpp::init(1, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);

  auto * h = new Harness;  // lives until exit, as the middleware's state does
  h->node = std::make_shared<rclcpp::Node>("wire_fuzz");
  h->service = h->node->create_service<Srv>(
      kService, [h](const std::shared_ptr<Srv::Request> request, std::shared_ptr<Srv::Response> response) {
        ++h->calls;
        h->last_request = request;
        response->code = request->cmd_id;
        response->biz_data = request->biz_data;
      });

  const dds_entity_t participant = rclcpp_compat::node_core(*h->node).participant();
  dds_qos_t * qos = EndpointQos();
  const std::string request_topic = std::string("rq/") + kService + "Request";
  const std::string reply_topic = std::string("rr/") + kService + "Reply";
  const dds_entity_t rq =
      Checked(dds_create_topic(participant, &korvane_protocol_srv_dds__DataCenterSrv_Request__desc,
                               request_topic.c_str(), nullptr, nullptr),
              "request topic");
  const dds_entity_t rr =
      Checked(dds_create_topic(participant, &korvane_protocol_srv_dds__DataCenterSrv_Response__desc,
                               reply_topic.c_str(), nullptr, nullptr),
              "reply topic");
  h->request_writer = Checked(dds_create_writer(participant, rq, qos, nullptr), "request writer");
  h->reply_reader = Checked(dds_create_reader(participant, rr, qos, nullptr), "reply reader");
  // Learns the request type as Cyclone holds it, from one valid request of
  // our own taken by a reader of ours.
  const dds_entity_t probe = Checked(dds_create_reader(participant, rq, qos, nullptr), "probe reader");
  dds_delete_qos(qos);

  DdsRequest warmup{};
  warmup.guid = 1;
  warmup.seq = 1;
  warmup.cmd_id = 7;
  FUZZ_CHECK(dds_write(h->request_writer, &warmup) == DDS_RETCODE_OK, "cannot write the first request");
  ddsi_serdata * sample = nullptr;
  dds_sample_info_t info;
  FUZZ_CHECK(dds_takecdr(probe, &sample, 1, &info, 0) == 1, "the first request did not arrive");
  h->request_type = ddsi_sertype_ref(sample->type);
  ddsi_serdata_unref(sample);
  dds_delete(probe);

  rclcpp::spin_some(h->node);
  FUZZ_CHECK(h->calls == 1, "the service did not answer the first request");
  ddsi_serdata * reply = TakeReplyCdr(*h);
  h->response_type = ddsi_sertype_ref(reply->type);
  ddsi_serdata_unref(reply);
  h->calls = 0;
  g_harness = h;
}

// Cyclone's view of the bytes, or null when it refuses them as malformed.
ddsi_serdata * Deserialise(const ddsi_sertype * type, const uint8_t * data, size_t size) {
  ddsrt_iovec_t iov;
  iov.iov_base = const_cast<uint8_t *>(data);
  iov.iov_len = static_cast<ddsrt_iov_len_t>(size);
  return ddsi_serdata_from_ser_iov(type, SDK_DATA, 1, &iov, size);
}

void FuzzRequest(Harness & h, const uint8_t * data, size_t size) {
  ddsi_serdata * serdata = Deserialise(h.request_type, data, size);
  if (serdata == nullptr) {
    NoteOutcome(0, data, size, false, 0);
    return;
  }
  DdsRequest sample{};
  FUZZ_CHECK(ddsi_serdata_to_sample(serdata, &sample, nullptr, nullptr), "accepted request does not convert");
  const auto & wire = rclcpp_compat::message_wire<Srv::Request>();
  Srv::Request direct;
  wire.read(&sample, &direct);
  const rclcpp_compat::RequestHeader header = wire.read_header(&sample);
  const std::vector<uint8_t> expected_payload = BytesOf(sample.biz_data);
  NoteOutcome(0, data, size, true, expected_payload.size());
  FUZZ_CHECK(direct.cmd_id == sample.cmd_id && direct.biz_data == expected_payload,
             "read_request changed the request");
  FUZZ_CHECK(header.guid == sample.guid && header.seq == sample.seq, "read_header changed the header");
  dds_sample_free(&sample, &korvane_protocol_srv_dds__DataCenterSrv_Request__desc, DDS_FREE_CONTENTS);

  // Through the service: dds_writecdr takes over our reference.
  const dds_return_t rc = dds_writecdr(h.request_writer, serdata);
  FUZZ_CHECK(rc == DDS_RETCODE_OK, "dds_writecdr: %s", dds_strretcode(rc));
  h.calls = 0;
  rclcpp::spin_some(h.node);
  FUZZ_CHECK(h.calls == 1, "the service ran its callback %d times for one request", h.calls);
  FUZZ_CHECK(h.last_request->cmd_id == direct.cmd_id && h.last_request->biz_data == direct.biz_data,
             "the service saw another request than the one sent");
  h.last_request.reset();

  ddsi_serdata * reply = TakeReplyCdr(h);
  DdsResponse answer{};
  FUZZ_CHECK(ddsi_serdata_to_sample(reply, &answer, nullptr, nullptr), "the reply does not convert");
  ddsi_serdata_unref(reply);
  FUZZ_CHECK(answer.guid == header.guid && answer.seq == header.seq,
             "the reply does not carry the request's header");
  FUZZ_CHECK(answer.code == direct.cmd_id && BytesOf(answer.biz_data) == direct.biz_data,
             "the reply is not the callback's answer");
  dds_sample_free(&answer, &korvane_protocol_srv_dds__DataCenterSrv_Response__desc, DDS_FREE_CONTENTS);
}

void FuzzResponse(Harness & h, const uint8_t * data, size_t size) {
  ddsi_serdata * serdata = Deserialise(h.response_type, data, size);
  if (serdata == nullptr) {
    NoteOutcome(1, data, size, false, 0);
    return;
  }
  DdsResponse sample{};
  const bool converted = ddsi_serdata_to_sample(serdata, &sample, nullptr, nullptr);
  ddsi_serdata_unref(serdata);
  FUZZ_CHECK(converted, "accepted reply does not convert");
  NoteOutcome(1, data, size, true,
              sample.biz_data._length + (sample.msg != nullptr ? std::strlen(sample.msg) : 0));
  Srv::Response response;
  rclcpp_compat::message_wire<Srv::Response>().read(&sample, &response);
  const std::string expected_msg = sample.msg != nullptr ? sample.msg : "";
  FUZZ_CHECK(response.code == sample.code && response.msg == expected_msg &&
                 response.biz_data == BytesOf(sample.biz_data),
             "read_response changed the reply");
  dds_sample_free(&sample, &korvane_protocol_srv_dds__DataCenterSrv_Response__desc, DDS_FREE_CONTENTS);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  Setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  FuzzRequest(*g_harness, data, size);
  FuzzResponse(*g_harness, data, size);
  return 0;
}
