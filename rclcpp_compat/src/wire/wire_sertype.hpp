// SPDX-License-Identifier: Apache-2.0
// The Cyclone DDS type (sertype/serdata) behind every topic of the layer:
// samples are rosidl C++ messages, serialised straight to and from plain CDR
// by cdr_codec. Incoming data is checked when it arrives, so a reader never
// holds a sample it cannot read.
#ifndef RCLCPP_COMPAT__WIRE__WIRE_SERTYPE_HPP_
#define RCLCPP_COMPAT__WIRE__WIRE_SERTYPE_HPP_

#include <dds/ddsi/ddsi_sertype.h>

#include "rosidl_runtime_c/message_type_support_struct.h"

namespace rclcpp_compat {

// A new sertype holding one reference for the caller. Throws
// std::invalid_argument for a type support it cannot carry.
struct ddsi_sertype * new_wire_sertype(const rosidl_message_type_support_t * type_support,
                                       bool service_sample);

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__WIRE__WIRE_SERTYPE_HPP_
