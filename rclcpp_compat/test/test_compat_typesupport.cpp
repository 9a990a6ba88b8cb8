// SPDX-License-Identifier: Apache-2.0
// The layer's DDS type for any rosidl message, without a network: samples
// made from C++ messages (ddsi_serdata_from_sample) and samples arriving as
// bytes (ddsi_serdata_from_ser_iov), read back into messages. Expected bytes
// are written out by hand: plain CDR, alignment counted from the byte after
// the 4-byte encapsulation.
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>
#include <gtest/gtest.h>

#include <compat_test_msgs/msg/containers.hpp>
#include <compat_test_msgs/msg/inner.hpp>
#include <compat_test_msgs/msg/primitives.hpp>
#include <compat_test_msgs/srv/probe.hpp>
#include <cstring>
#include <korvane_protocol/srv/data_center_srv.hpp>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "allocation_probe.hpp"
#include "rclcpp_compat/wire_types.hpp"
#include "wire/wire_sertype.hpp"

namespace {

using compat_test_msgs::msg::Containers;
using compat_test_msgs::msg::Inner;
using compat_test_msgs::msg::Primitives;
using Probe = compat_test_msgs::srv::Probe;
using rclcpp_compat::RequestHeader;
using rclcpp_compat::WireSample;
using rosidl_typesupport_introspection_cpp::get_message_type_support_handle;

// "00 01 0a ..." with any whitespace.
std::vector<uint8_t> bytes_of(const std::string & text) {
  std::istringstream in(text);
  std::vector<uint8_t> out;
  std::string byte;
  while (in >> byte) {
    out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  }
  return out;
}

std::string hex(const std::vector<uint8_t> & bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

// The layer's sertype for one message type, used without a domain.
template <class MsgT>
class Wire {
 public:
  explicit Wire(bool service_sample = false)
      : type_(rclcpp_compat::new_wire_sertype(get_message_type_support_handle<MsgT>(), service_sample)) {}
  ~Wire() { ddsi_sertype_free(type_); }
  Wire(const Wire &) = delete;
  Wire & operator=(const Wire &) = delete;

  const char * type_name() const { return type_->type_name; }

  // The serialized sample, or nothing when the layer refuses to write it.
  bool write(const MsgT & msg, std::vector<uint8_t> & out, RequestHeader header = {}) const {
    WireSample sample;
    sample.header = header;
    sample.message = const_cast<MsgT *>(&msg);
    ddsi_serdata * d = ddsi_serdata_from_sample(type_, SDK_DATA, &sample);
    if (d == nullptr) {
      return false;
    }
    out.resize(ddsi_serdata_size(d));
    ddsi_serdata_to_ser(d, 0, out.size(), out.data());
    ddsi_serdata_unref(d);
    return true;
  }
  std::vector<uint8_t> write(const MsgT & msg, RequestHeader header = {}) const {
    std::vector<uint8_t> out;
    EXPECT_TRUE(write(msg, out, header));
    return out;
  }

  // What a reader of the type takes from `bytes`; false when it is refused.
  bool read(const std::vector<uint8_t> & bytes, MsgT & msg, RequestHeader * header = nullptr) const {
    ddsrt_iovec_t iov;
    iov.iov_base = const_cast<uint8_t *>(bytes.data());
    iov.iov_len = static_cast<ddsrt_iov_len_t>(bytes.size());
    ddsi_serdata * d = ddsi_serdata_from_ser_iov(type_, SDK_DATA, 1, &iov, bytes.size());
    if (d == nullptr) {
      return false;
    }
    WireSample sample;
    sample.message = &msg;
    const bool ok = ddsi_serdata_to_sample(d, &sample, nullptr, nullptr);
    ddsi_serdata_unref(d);
    EXPECT_TRUE(ok) << "accepted, then not readable";
    if (header != nullptr) {
      *header = sample.header;
    }
    return ok;
  }
  bool accepts(const std::vector<uint8_t> & bytes) const {
    MsgT ignored;
    return read(bytes, ignored);
  }

 private:
  ddsi_sertype * type_;
};

Primitives sample_primitives() {
  Primitives p;
  p.flag = true;
  p.octet = 0xab;
  p.letter = 'Z';
  p.i8 = -2;
  p.u8 = 200;
  p.i16 = -3;
  p.u16 = 0x1234;
  p.i32 = -5;
  p.u32 = 0x89abcdef;
  p.i64 = -7;
  p.u64 = 0x0102030405060708ull;
  p.f32 = 1.5f;
  p.f64 = -2.25;
  p.text = "hi";
  p.wide = u"\u00e9";
  return p;
}

// Each primitive aligned to its own size.
const char kPrimitivesLe[] =
    "00 01 00 00"                // plain CDR, little-endian
    " 01 ab 5a fe c8"            // 0: bool, byte, char, int8, uint8
    " 00 fd ff 34 12"            // 5: pad, int16 -3 at 6, uint16 at 8
    " 00 00 fb ff ff ff"         // 10: pad, int32 -5 at 12
    " ef cd ab 89"               // 16: uint32
    " 00 00 00 00"               // 20: pad to 8
    " f9 ff ff ff ff ff ff ff"   // 24: int64 -7
    " 08 07 06 05 04 03 02 01"   // 32: uint64
    " 00 00 c0 3f"               // 40: float32 1.5
    " 00 00 00 00"               // 44: pad to 8
    " 00 00 00 00 00 00 02 c0"   // 48: float64 -2.25
    " 03 00 00 00 68 69 00"      // 56: "hi" with its NUL
    " 00"                        // 63: pad to 4
    " 01 00 00 00 e9 00 00 00";  // 64: wstring: characters, then each in 4 bytes

// The same message in big-endian plain CDR.
const char kPrimitivesBe[] =
    "00 00 00 00"
    " 01 ab 5a fe c8 00 ff fd 12 34 00 00 ff ff ff fb 89 ab cd ef 00 00 00 00"
    " ff ff ff ff ff ff ff f9 01 02 03 04 05 06 07 08 3f c0 00 00 00 00 00 00"
    " c0 02 00 00 00 00 00 00 00 00 00 03 68 69 00 00 00 00 00 01 00 00 00 e9";

Containers sample_containers() {
  Containers c;
  c.shorts = {1, -1, 2};
  c.flags = {true, false};
  c.words = {"a", ""};
  c.doubles = {0.5};
  c.bools = {true, false, true};
  c.bounded_bytes = {9, 8};
  c.short_text = "abc";
  c.short_words = {"xy"};
  c.inner.tag = 7;
  c.inner.name = "n";
  c.inner_pair[0].tag = 1;
  c.inner_pair[1].tag = 2;
  c.inner_pair[1].name = "b";
  Inner bounded;
  bounded.tag = 3;
  bounded.name = "cd";
  c.inner_bounded = {bounded};
  c.wides = {u"A"};
  return c;
}

const char kContainersLe[] =
    "00 01 00 00"
    " 01 00 ff ff 02 00"                             // 0: int16[3]
    " 01 00"                                         // 6: bool[2]
    " 02 00 00 00 61 00"                             // 8: string[2]: "a"
    " 00 00 01 00 00 00 00"                          // 14: pad, ""
    " 00 00 00 01 00 00 00"                          // 21: pad, float64[] length 1 at 24
    " 00 00 00 00"                                   // 28: pad to 8
    " 00 00 00 00 00 00 e0 3f"                       // 32: 0.5
    " 03 00 00 00 01 00 01"                          // 40: bool[]
    " 00 02 00 00 00 09 08"                          // 47: pad, uint8[<=4]
    " 00 00 04 00 00 00 61 62 63 00"                 // 54: pad, string<=5 "abc"
    " 01 00 00 00 03 00 00 00 78 79 00"              // 64: string<=3[<=2] {"xy"}
    " 07 02 00 00 00 6e 00"                          // 75: Inner {7, "n"}, name 4-aligned at 76
    " 01 00 01 00 00 00 00"                          // 82: Inner[2][0] {1, ""}
    " 02 00 00 02 00 00 00 62 00"                    // 89: Inner[2][1] {2, "b"}
    " 00 00 00 00 00 00"                             // 98: pad, Inner[] empty at 100
    " 01 00 00 00 03 00 00 00 03 00 00 00 63 64 00"  // 104: Inner[<=2] {{3, "cd"}}
    " 00 00 00 00 00"                        // 119: pad, int64[] empty at 120: no alignment to 8 after it
    " 01 00 00 00 01 00 00 00 41 00 00 00";  // 124: wstring[] {"A"}

TEST(TypeSupportTest, DdsTypeNamesAreThoseOfRos2) {
  EXPECT_STREQ(Wire<Primitives>().type_name(), "compat_test_msgs::msg::dds_::Primitives_");
  EXPECT_STREQ(Wire<Probe::Request>(true).type_name(), "compat_test_msgs::srv::dds_::Probe_Request_");
  EXPECT_STREQ(Wire<Probe::Response>(true).type_name(), "compat_test_msgs::srv::dds_::Probe_Response_");
  EXPECT_EQ(rclcpp_compat::wire_type_name(
                get_message_type_support_handle<korvane_protocol::srv::DataCenterSrv::Response>()),
            "korvane_protocol::srv::dds_::DataCenterSrv_Response_");
}

TEST(TypeSupportTest, PrimitivesHaveTheirExactBytesInEitherByteOrder) {
  Wire<Primitives> wire;
  const std::vector<uint8_t> le = wire.write(sample_primitives());
  EXPECT_EQ(hex(le), hex(bytes_of(kPrimitivesLe)));

  for (const char * text : {kPrimitivesLe, kPrimitivesBe}) {
    SCOPED_TRACE(text);
    Primitives read;
    ASSERT_TRUE(wire.read(bytes_of(text), read));
    EXPECT_EQ(read, sample_primitives());
  }
}

TEST(TypeSupportTest, ContainersAndNestedMessagesHaveTheirExactBytes) {
  Wire<Containers> wire;
  EXPECT_EQ(hex(wire.write(sample_containers())), hex(bytes_of(kContainersLe)));
  Containers read;
  ASSERT_TRUE(wire.read(bytes_of(kContainersLe), read));
  EXPECT_EQ(read, sample_containers());
}

// A body whose size is not a multiple of 4 is padded with zeros, and the
// number of padding bytes is in the options; the header of a service sample
// goes first.
TEST(TypeSupportTest, HeaderAndPaddingOfAServiceSample) {
  Probe::Response response;
  Inner inner;
  inner.tag = 5;
  response.inners = {inner};
  response.primitives.text = "";
  std::vector<uint8_t> expected = bytes_of(
      "00 01 00 03"
      " 21 43 65 87 a9 cb ed 0f"  // guid
      " fe ff ff ff ff ff ff ff"  // seq -2
      " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
      " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
      " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
      " 00 00 00 00 00 00 00 00"                 // Primitives, all zero, up to its text at 56
      " 01 00 00 00 00 00 00 00"                 // "" and pad
      " 00 00 00 00"                             // empty wstring
      " 01 00 00 00 05 00 00 00 01 00 00 00 00"  // Inner[] {{5, ""}}
      " 00 00 00");                              // padding
  Wire<Probe::Response> wire(true);
  const RequestHeader header{0x0fedcba987654321ull, -2};
  EXPECT_EQ(hex(wire.write(response, header)), hex(expected));
  Probe::Response read;
  RequestHeader read_header;
  ASSERT_TRUE(wire.read(expected, read, &read_header));
  EXPECT_EQ(read, response);
  EXPECT_EQ(read_header.guid, header.guid);
  EXPECT_EQ(read_header.seq, header.seq);
}

// Extreme values of every kind survive a round trip, also when read into a
// message that held something bigger before.
TEST(TypeSupportTest, EveryFieldKindRoundTrips) {
  Probe::Request request;
  Primitives & p = request.primitives;
  p.flag = true;
  p.octet = 0xff;
  p.letter = 0x80;
  p.i8 = std::numeric_limits<int8_t>::min();
  p.u8 = 0xff;
  p.i16 = std::numeric_limits<int16_t>::min();
  p.u16 = 0xffff;
  p.i32 = std::numeric_limits<int32_t>::min();
  p.u32 = 0xffffffffu;
  p.i64 = std::numeric_limits<int64_t>::min();
  p.u64 = std::numeric_limits<uint64_t>::max();
  p.f32 = -std::numeric_limits<float>::infinity();
  p.f64 = std::numeric_limits<double>::denorm_min();
  p.text = std::string("nul \0 inside, and more", 22);
  p.wide = u"\u0000\uffff\u20ac";
  Containers & c = request.containers;
  c = sample_containers();
  c.doubles.assign(1000, -0.0);
  c.bools.assign(37, true);
  c.bools[5] = false;
  c.longs = {std::numeric_limits<int64_t>::max(), 0, -1};
  c.inner_list.resize(300);
  for (size_t i = 0; i < c.inner_list.size(); ++i) {
    c.inner_list[i].tag = static_cast<uint8_t>(i);
    c.inner_list[i].name = std::string(i % 7, 'x');
  }
  c.short_text = "12345";
  c.short_words = {"abc", ""};
  c.wides = {u"", u"\u4e2d\u6587"};

  Wire<Probe::Request> wire(true);
  const RequestHeader header{1, std::numeric_limits<int64_t>::max()};
  const auto bytes = wire.write(request, header);
  Probe::Request read;
  RequestHeader read_header;
  ASSERT_TRUE(wire.read(bytes, read, &read_header));
  EXPECT_EQ(read, request);
  EXPECT_EQ(read_header.seq, header.seq);

  Probe::Request small;
  small.containers.words = {"only", "this"};
  ASSERT_TRUE(wire.read(wire.write(small), read));
  EXPECT_EQ(read, small);
}

TEST(TypeSupportTest, TruncatedSamplesAreRefused) {
  Wire<Containers> wire;
  const std::vector<uint8_t> whole = bytes_of(kContainersLe);
  ASSERT_TRUE(wire.accepts(whole));
  for (size_t size = 0; size < whole.size(); ++size) {
    EXPECT_FALSE(wire.accepts(std::vector<uint8_t>(whole.begin(), whole.begin() + size))) << size << " bytes";
  }
}

// Offsets in kContainersLe.
constexpr size_t kWordLength = 4 + 8;
constexpr size_t kDoublesLength = 4 + 24;
constexpr size_t kBoolsFirst = 4 + 44;
constexpr size_t kBoundedBytesLength = 4 + 48;
constexpr size_t kShortTextLength = 4 + 56;
constexpr size_t kInnerListLength = 4 + 100;
constexpr size_t kWideChar = 4 + 132;

std::vector<uint8_t> containers_with(size_t offset, std::vector<uint8_t> replacement) {
  std::vector<uint8_t> bytes = bytes_of(kContainersLe);
  std::copy(replacement.begin(), replacement.end(), bytes.begin() + offset);
  return bytes;
}

TEST(TypeSupportTest, MalformedSamplesAreRefused) {
  Wire<Containers> wire;
  struct Case {
    const char * what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"XCDR2 encapsulation", containers_with(0, {0x00, 0x07})},
      {"parameter list encapsulation", containers_with(0, {0x00, 0x03})},
      {"unknown encapsulation", containers_with(0, {0x01, 0x01})},
      {"string without its NUL", containers_with(kWordLength + 4 + 1, {'b'})},
      {"string longer than the rest", containers_with(kWordLength, {0xff, 0x00, 0x00, 0x00})},
      {"sequence longer than the rest", containers_with(kDoublesLength, {0x20, 0x00, 0x00, 0x00})},
      {"bounded string over its bound", containers_with(kShortTextLength, {0x07, 0x00, 0x00, 0x00})},
      {"wide character beyond 16 bits", containers_with(kWideChar, {0x00, 0x00, 0x01, 0x00})},
  };
  for (const Case & c : cases) {
    EXPECT_FALSE(wire.accepts(c.bytes)) << c.what;
  }

  // Five bytes in a uint8[<=4], and otherwise a faultless sample: the four
  // bytes the writer allows, one more and three bytes of padding, so that
  // everything after it stays aligned.
  Containers at_bound = sample_containers();
  at_bound.bounded_bytes = {9, 8, 7, 6};
  std::vector<uint8_t> over_bound = wire.write(at_bound);
  ASSERT_TRUE(wire.accepts(over_bound));
  over_bound[kBoundedBytesLength] = 5;
  over_bound.insert(over_bound.begin() + kBoundedBytesLength + 8, {5, 0, 0, 0});
  EXPECT_FALSE(wire.accepts(over_bound));
  // Not malformed: any non-zero byte is a true bool, as rmw_cyclonedds_cpp reads it.
  Containers read;
  ASSERT_TRUE(wire.read(containers_with(kBoolsFirst, {0x02}), read));
  EXPECT_TRUE(read.bools[0]);
}

TEST(TypeSupportTest, HugeDeclaredLengthsAreRefusedBeforeAnyAllocation) {
  Wire<Containers> wire;
  for (size_t offset : {kWordLength, kDoublesLength, kShortTextLength, kInnerListLength, kWideChar - 4}) {
    for (uint8_t top : {0xff, 0x7f, 0x10}) {
      const std::vector<uint8_t> bytes = containers_with(offset, {0xff, 0xff, 0xff, top});
      compat_test::reset_largest_allocation();
      EXPECT_FALSE(wire.accepts(bytes)) << "length at " << offset;
      EXPECT_LT(compat_test::largest_allocation(), size_t{64} * 1024) << "length at " << offset;
    }
  }
}

// Bounds hold on the way out too: such a message is not written at all.
TEST(TypeSupportTest, MessagesOverTheirBoundsAreNotWritten) {
  Wire<Containers> wire;
  std::vector<uint8_t> out;
  Containers c = sample_containers();
  c.short_text = "123456";
  EXPECT_FALSE(wire.write(c, out));
  c = sample_containers();
  c.short_words = {"abcd"};
  EXPECT_FALSE(wire.write(c, out));
  EXPECT_TRUE(wire.write(sample_containers(), out));
}

}  // namespace
