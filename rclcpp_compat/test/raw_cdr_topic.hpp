// SPDX-License-Identifier: Apache-2.0
// A foreign peer that puts arbitrary bytes on a topic: a Cyclone type whose
// samples are opaque serialized data (encapsulation header included) under a
// type name of our choice. Nothing checks the bytes on the way out, so it can
// send valid samples, malformed ones, or another byte order; a reader of it
// takes what arrives as it came (dds_takecdr).
#ifndef RCLCPP_COMPAT__TEST__RAW_CDR_TOPIC_HPP_
#define RCLCPP_COMPAT__TEST__RAW_CDR_TOPIC_HPP_

#include <dds/dds.h>

#include <cstdint>
#include <string>
#include <vector>

namespace compat_test {

// Creates the topic on `participant`; 0 or a negative return code on failure.
dds_entity_t create_raw_cdr_topic(dds_entity_t participant, const std::string & topic_name,
                                  const std::string & type_name);

// Writes `bytes` as one sample on a writer of a raw CDR topic.
dds_return_t write_raw_cdr(dds_entity_t writer, const std::vector<uint8_t> & bytes);

// Takes one sample with data from a reader of a raw CDR topic, as it came:
// false when there is none now.
bool take_raw_cdr(dds_entity_t reader, std::vector<uint8_t> & bytes);

}  // namespace compat_test

#endif  // RCLCPP_COMPAT__TEST__RAW_CDR_TOPIC_HPP_
