// SPDX-License-Identifier: Apache-2.0
// Payload decoder: arbitrary bytes into each payload message the service
// carries. What decodes must encode again, and that encoding must decode to an
// equal message and encode to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/util/field_comparator.h>
#include <google/protobuf/util/message_differencer.h>

#include "codec.hpp"
#include "fuzz_check.hpp"
#include "proto/data_center.pb.h"

namespace {

// Field by field; a NaN coordinate decoded from the input equals itself.
bool Equal(const google::protobuf::Message & a, const google::protobuf::Message & b) {
  google::protobuf::util::DefaultFieldComparator comparator;
  comparator.set_treat_nan_as_equal(true);
  google::protobuf::util::MessageDifferencer differencer;
  differencer.set_field_comparator(&comparator);
  return differencer.Compare(a, b);
}

// What the codec encodes: the message itself, or for a station list the
// list with -0.0 coordinates made +0.0.
template <typename Message>
Message EncodedAs(const Message & message) {
  return message;
}
template <>
data_center::BaseStationInfo EncodedAs(const data_center::BaseStationInfo & info) {
  data_center::BaseStationInfo positive(info);
  data_center::MakeZerosPositive(positive);
  return positive;
}

template <typename Message>
void RoundTrip(const std::vector<uint8_t> & input) {
  Message first;
  if (!data_center::ParseFromBytes(input, first)) {
    return;
  }
  std::vector<uint8_t> encoded;
  FUZZ_CHECK(data_center::SerializeToBytes(first, encoded), "a decoded %s does not encode",
             first.GetTypeName().c_str());
  FUZZ_CHECK(encoded.size() == EncodedAs(first).ByteSizeLong(), "encoded %zu bytes, size said %zu",
             encoded.size(), EncodedAs(first).ByteSizeLong());

  Message second;
  // An empty encoding is an empty message, which ParseFromBytes refuses by
  // design; compare with a default message then.
  if (encoded.empty()) {
    FUZZ_CHECK(Equal(EncodedAs(first), second), "a message with content encoded to nothing");
    return;
  }
  FUZZ_CHECK(data_center::ParseFromBytes(encoded, second), "re-encoded %s does not decode",
             first.GetTypeName().c_str());
  FUZZ_CHECK(Equal(EncodedAs(first), second), "round trip changed the %s", first.GetTypeName().c_str());

  std::vector<uint8_t> again;
  FUZZ_CHECK(data_center::SerializeToBytes(second, again), "second encoding failed");
  FUZZ_CHECK(again == encoded, "encoding of an equal message differs (%zu vs %zu bytes)", again.size(),
             encoded.size());
}

void IgnoreProtobufLog(google::protobuf::LogLevel, const char *, int, const std::string &) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Invalid UTF-8 makes protobuf log one line per attempt; the result code is
  // what is checked, the lines only slow the run down.
  google::protobuf::SetLogHandler(IgnoreProtobufLog);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  const std::vector<uint8_t> input(data, data + size);
  RoundTrip<data_center::BaseStationInfo>(input);
  RoundTrip<data_center::MapInfo>(input);
  RoundTrip<data_center::RobotInfoResp>(input);
  return 0;
}
