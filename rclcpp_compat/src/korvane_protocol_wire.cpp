// korvane_protocol/srv/DataCenterSrv on the wire. Payload bytes are lent to
// the DDS sample on write (no copy) and copied out of the loan on read.
#include <dds/dds.h>

#include <limits>

#include "korvane_protocol_srv.h"
#include "rclcpp_compat/wire_types.hpp"

namespace rclcpp_compat {
namespace {

using Request = korvane_protocol::srv::DataCenterSrv::Request;
using Response = korvane_protocol::srv::DataCenterSrv::Response;
using DdsRequest = korvane_protocol_srv_dds__DataCenterSrv_Request_;
using DdsResponse = korvane_protocol_srv_dds__DataCenterSrv_Response_;

bool lend(const std::vector<uint8_t> & bytes, dds_sequence_octet & seq) {
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  seq._maximum = seq._length = static_cast<uint32_t>(bytes.size());
  seq._buffer = const_cast<uint8_t *>(bytes.data());
  seq._release = false;
  return true;
}

void copy_out(const dds_sequence_octet & seq, std::vector<uint8_t> & bytes) {
  if (seq._buffer == nullptr) {
    bytes.clear();
  } else {
    bytes.assign(seq._buffer, seq._buffer + seq._length);
  }
}

template <class DdsT>
RequestHeader header_of(const void * sample) {
  const auto * s = static_cast<const DdsT *>(sample);
  return RequestHeader{s->guid, s->seq};
}

int32_t write_request(int32_t writer, const RequestHeader & header, const void * msg) {
  const auto & m = *static_cast<const Request *>(msg);
  DdsRequest s{};
  s.guid = header.guid;
  s.seq = header.seq;
  s.cmd_id = m.cmd_id;
  if (!lend(m.biz_data, s.biz_data)) {
    return DDS_RETCODE_BAD_PARAMETER;
  }
  return dds_write(writer, &s);
}

void read_request(const void * sample, void * msg) {
  const auto & s = *static_cast<const DdsRequest *>(sample);
  auto & m = *static_cast<Request *>(msg);
  m.cmd_id = s.cmd_id;
  copy_out(s.biz_data, m.biz_data);
}

int32_t write_response(int32_t writer, const RequestHeader & header, const void * msg) {
  const auto & m = *static_cast<const Response *>(msg);
  DdsResponse s{};
  s.guid = header.guid;
  s.seq = header.seq;
  s.code = m.code;
  s.msg = const_cast<char *>(m.msg.c_str());
  if (!lend(m.biz_data, s.biz_data)) {
    return DDS_RETCODE_BAD_PARAMETER;
  }
  return dds_write(writer, &s);
}

void read_response(const void * sample, void * msg) {
  const auto & s = *static_cast<const DdsResponse *>(sample);
  auto & m = *static_cast<Response *>(msg);
  m.code = s.code;
  m.msg = s.msg != nullptr ? s.msg : "";
  copy_out(s.biz_data, m.biz_data);
}

}  // namespace

template <>
const MessageWire & message_wire<Request>() {
  static const MessageWire wire{&korvane_protocol_srv_dds__DataCenterSrv_Request__desc, write_request,
                                header_of<DdsRequest>, read_request};
  return wire;
}

template <>
const MessageWire & message_wire<Response>() {
  static const MessageWire wire{&korvane_protocol_srv_dds__DataCenterSrv_Response__desc, write_response,
                                header_of<DdsResponse>, read_response};
  return wire;
}

}  // namespace rclcpp_compat
