// SPDX-License-Identifier: Apache-2.0
// Plain CDR (XCDR1) of any rosidl C++ message, driven by the introspection
// type support that rosidl generates: the body of a sample as rmw_cyclonedds_cpp
// lays it out (optionally the request header, then the fields in order),
// alignment counted from the start of the body.
#ifndef RCLCPP_COMPAT__WIRE__CDR_CODEC_HPP_
#define RCLCPP_COMPAT__WIRE__CDR_CODEC_HPP_

#include <cstddef>
#include <cstdint>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <string>

#include "rclcpp_compat/core.hpp"

namespace rclcpp_compat {
namespace cdr {

using Members = rosidl_typesupport_introspection_cpp::MessageMembers;

// The members of a C++ introspection type support; throws std::invalid_argument
// for any other kind of type support, or for a type with a field kind that has
// no XCDR1 form here (long double).
const Members & members_of(const rosidl_message_type_support_t * type_support);

// "pkg::msg::dds_::Name_", as ROS 2 names the DDS type of a message.
std::string dds_type_name(const Members & members);

// Size of the body of `msg`. Throws std::length_error when a string or
// sequence exceeds its bound or the body would not fit 32-bit lengths.
size_t body_size(const Members & members, const void * msg, bool with_header);
// Writes exactly body_size() bytes at `out`; the header only when given.
void write_body(const Members & members, const void * msg, const RequestHeader * header, uint8_t * out);

// Reads a body of `size` bytes (trailing bytes are ignored). Without `msg`
// only checks it; the header goes to `header` when it is in the stream and
// `header` is given. False for a malformed body: every length is checked
// against the bytes that remain before anything is allocated.
bool read_body(const Members & members, const uint8_t * body, size_t size, bool big_endian, bool with_header,
               RequestHeader * header, void * msg);

}  // namespace cdr
}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__WIRE__CDR_CODEC_HPP_
