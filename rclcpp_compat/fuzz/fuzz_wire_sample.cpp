// SPDX-License-Identifier: Apache-2.0
// Arbitrary serialized samples (encapsulation header included) of the two
// service message types, taken the way the middleware takes them: the layer's
// DDS type checks the bytes when they arrive (ddsi_serdata_from_ser_iov) and
// only what it accepts is ever deserialised into a korvane_protocol message.
//
// A small reader of the two layouts written out by hand here is the judge of
// what must be accepted and what it holds. Every accepted request then goes
// the whole way: written (as already serialized data) to the request topic of
// a real rclcpp_compat service in the same participant, answered by an echo
// callback, and the reply taken from the reply topic.
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
#include "rclcpp_compat/wire_types.hpp"

namespace {

using Srv = korvane_protocol::srv::DataCenterSrv;
using rclcpp_compat::WireSample;

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

// The two layouts read by hand: plain CDR of either byte order, alignment
// from the end of the 4-byte encapsulation, trailing bytes ignored, a string
// length of 0 read as "". False where the layer must refuse the sample.
class HandReader {
 public:
  HandReader(const uint8_t * data, size_t size) : data_(data), size_(size) {}

  bool Encapsulation() {
    if (size_ < 4 || data_[0] != 0x00 || data_[1] > 0x01) {
      return false;
    }
    big_endian_ = data_[1] == 0x00;
    pos_ = 4;
    return true;
  }
  bool Int(uint64_t & value, size_t width) {
    const size_t body = pos_ - 4;
    const size_t pad = (width - body % width) % width;
    if (size_ - pos_ < pad + width) {
      return false;
    }
    pos_ += pad;
    value = 0;
    for (size_t i = 0; i < width; ++i) {
      const uint64_t byte = data_[pos_ + (big_endian_ ? i : width - 1 - i)];
      value = (value << 8) | byte;
    }
    pos_ += width;
    return true;
  }
  bool Octets(std::vector<uint8_t> & out) {
    uint64_t n = 0;
    if (!Int(n, 4) || n > size_ - pos_) {
      return false;
    }
    out.assign(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return true;
  }
  bool String(std::string & out) {
    uint64_t n = 0;
    if (!Int(n, 4) || n > size_ - pos_ || (n > 0 && data_[pos_ + n - 1] != 0)) {
      return false;
    }
    out.assign(reinterpret_cast<const char *>(data_ + pos_), n > 0 ? n - 1 : 0);
    pos_ += n;
    return true;
  }

 private:
  const uint8_t * data_;
  size_t size_;
  size_t pos_ = 0;
  bool big_endian_ = false;
};

struct HandRequest {
  uint64_t guid = 0, seq = 0, cmd_id = 0;
  std::vector<uint8_t> biz_data;
};

bool ReadRequestByHand(const uint8_t * data, size_t size, HandRequest & r) {
  HandReader in(data, size);
  return in.Encapsulation() && in.Int(r.guid, 8) && in.Int(r.seq, 8) && in.Int(r.cmd_id, 4) &&
         in.Octets(r.biz_data);
}

struct HandResponse {
  uint64_t guid = 0, seq = 0, code = 0;
  std::string msg;
  std::vector<uint8_t> biz_data;
};

bool ReadResponseByHand(const uint8_t * data, size_t size, HandResponse & r) {
  HandReader in(data, size);
  return in.Encapsulation() && in.Int(r.guid, 8) && in.Int(r.seq, 8) && in.Int(r.code, 4) &&
         in.String(r.msg) && in.Octets(r.biz_data);
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
  const dds_entity_t rq = Checked(
      rclcpp_compat::create_service_wire_topic<Srv::Request>(participant, request_topic), "request topic");
  const dds_entity_t rr = Checked(
      rclcpp_compat::create_service_wire_topic<Srv::Response>(participant, reply_topic), "reply topic");
  h->request_writer = Checked(dds_create_writer(participant, rq, qos, nullptr), "request writer");
  h->reply_reader = Checked(dds_create_reader(participant, rr, qos, nullptr), "reply reader");
  // Learns the request type as Cyclone holds it, from one valid request of
  // our own taken by a reader of ours.
  const dds_entity_t probe = Checked(dds_create_reader(participant, rq, qos, nullptr), "probe reader");
  dds_delete_qos(qos);

  Srv::Request warmup_request;
  warmup_request.cmd_id = 7;
  WireSample warmup;
  warmup.header = {1, 1};
  warmup.message = &warmup_request;
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

// Serialises `msg` behind `header` with `type` and reads it back: what the
// layer reads, it can write again unchanged.
template <class MsgT>
void CheckRewrite(const ddsi_sertype * type, const rclcpp_compat::RequestHeader & header, const MsgT & msg) {
  WireSample out;
  out.header = header;
  out.message = const_cast<MsgT *>(&msg);
  ddsi_serdata * again = ddsi_serdata_from_sample(type, SDK_DATA, &out);
  FUZZ_CHECK(again != nullptr, "an accepted sample cannot be written again");
  MsgT back;
  WireSample in;
  in.message = &back;
  const bool read = ddsi_serdata_to_sample(again, &in, nullptr, nullptr);
  ddsi_serdata_unref(again);
  FUZZ_CHECK(read && back == msg && in.header.guid == header.guid && in.header.seq == header.seq,
             "writing and reading again changed the sample");
}

void FuzzRequest(Harness & h, const uint8_t * data, size_t size) {
  HandRequest expected;
  const bool valid = ReadRequestByHand(data, size, expected);
  ddsi_serdata * serdata = Deserialise(h.request_type, data, size);
  NoteOutcome(0, data, size, serdata != nullptr, expected.biz_data.size());
  FUZZ_CHECK((serdata != nullptr) == valid, "the layer %s a request the hand reader %s",
             serdata != nullptr ? "accepted" : "refused", valid ? "accepts" : "refuses");
  if (serdata == nullptr) {
    return;
  }
  Srv::Request direct;
  WireSample sample;
  sample.message = &direct;
  FUZZ_CHECK(ddsi_serdata_to_sample(serdata, &sample, nullptr, nullptr), "accepted request does not convert");
  const rclcpp_compat::RequestHeader header = sample.header;
  FUZZ_CHECK(header.guid == expected.guid && static_cast<uint64_t>(header.seq) == expected.seq &&
                 static_cast<uint32_t>(direct.cmd_id) == expected.cmd_id &&
                 direct.biz_data == expected.biz_data,
             "the layer read another request than the bytes hold");
  CheckRewrite(h.request_type, header, direct);

  // Through the service: dds_writecdr takes over our reference.
  const dds_return_t rc = dds_writecdr(h.request_writer, serdata);
  FUZZ_CHECK(rc == DDS_RETCODE_OK, "dds_writecdr: %s", dds_strretcode(rc));
  h.calls = 0;
  rclcpp::spin_some(h.node);
  FUZZ_CHECK(h.calls == 1, "the service ran its callback %d times for one request", h.calls);
  FUZZ_CHECK(*h.last_request == direct, "the service saw another request than the one sent");
  h.last_request.reset();

  ddsi_serdata * reply = TakeReplyCdr(h);
  Srv::Response answer;
  WireSample answer_sample;
  answer_sample.message = &answer;
  FUZZ_CHECK(ddsi_serdata_to_sample(reply, &answer_sample, nullptr, nullptr), "the reply does not convert");
  ddsi_serdata_unref(reply);
  FUZZ_CHECK(answer_sample.header.guid == header.guid && answer_sample.header.seq == header.seq,
             "the reply does not carry the request's header");
  FUZZ_CHECK(answer.code == direct.cmd_id && answer.biz_data == direct.biz_data,
             "the reply is not the callback's answer");
}

void FuzzResponse(Harness & h, const uint8_t * data, size_t size) {
  HandResponse expected;
  const bool valid = ReadResponseByHand(data, size, expected);
  ddsi_serdata * serdata = Deserialise(h.response_type, data, size);
  NoteOutcome(1, data, size, serdata != nullptr, expected.biz_data.size() + expected.msg.size());
  FUZZ_CHECK((serdata != nullptr) == valid, "the layer %s a reply the hand reader %s",
             serdata != nullptr ? "accepted" : "refused", valid ? "accepts" : "refuses");
  if (serdata == nullptr) {
    return;
  }
  Srv::Response response;
  WireSample sample;
  sample.message = &response;
  const bool converted = ddsi_serdata_to_sample(serdata, &sample, nullptr, nullptr);
  ddsi_serdata_unref(serdata);
  FUZZ_CHECK(converted, "accepted reply does not convert");
  FUZZ_CHECK(sample.header.guid == expected.guid &&
                 static_cast<uint64_t>(sample.header.seq) == expected.seq &&
                 static_cast<uint32_t>(response.code) == expected.code && response.msg == expected.msg &&
                 response.biz_data == expected.biz_data,
             "the layer read another reply than the bytes hold");
  CheckRewrite(h.response_type, sample.header, response);
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
