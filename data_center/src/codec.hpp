// SPDX-License-Identifier: Apache-2.0
// Protobuf messages to byte sequences (the biz_data fields) and back.
#ifndef DATA_CENTER__CODEC_HPP_
#define DATA_CENTER__CODEC_HPP_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <vector>

#include <google/protobuf/message_lite.h>

#include "proto/data_center.pb.h"

namespace data_center {

// Encodes `message` into `out`. On failure writes one line to standard output
// and returns false; `out` then holds zeroed bytes (or nothing when the
// message is too big for the protobuf array encoder).
template <typename Message>
bool SerializeToBytes(const Message & message, std::vector<uint8_t> & out) {
  out.clear();
  const std::size_t size = message.ByteSizeLong();
  // The array encoder takes a signed 32-bit size.
  if (size <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    out.resize(size, 0);
    if (message.SerializeToArray(out.data(), static_cast<int>(size))) {
      return true;
    }
  }
  std::cout << "serialize protobuf data failed" << std::endl;
  return false;
}

inline bool IsNegativeZero(double value) {
  return value == 0.0 && std::signbit(value);
}

inline bool HasNegativeZero(const BaseStationInfo & info) {
  const auto & poses = info.bs_pose();
  return std::any_of(poses.begin(), poses.end(), [](const BsPose & pose) {
    return IsNegativeZero(pose.x()) || IsNegativeZero(pose.y());
  });
}

inline void MakeZerosPositive(BaseStationInfo & info) {
  for (BsPose & pose : *info.mutable_bs_pose()) {
    if (IsNegativeZero(pose.x())) {
      pose.set_x(0.0);
    }
    if (IsNegativeZero(pose.y())) {
      pose.set_y(0.0);
    }
  }
}

// The station list, as Ubuntu 22.04's protobuf (3.12) encodes it: that
// version leaves a -0.0 coordinate out as the default, later ones write it.
// Stored and answered lists must be the same bytes whichever protobuf the
// node was built with, so -0.0 is encoded as +0.0 (which decodes alike).
inline bool SerializeToBytes(const BaseStationInfo & info, std::vector<uint8_t> & out) {
  if (!HasNegativeZero(info)) {
    return SerializeToBytes<BaseStationInfo>(info, out);
  }
  BaseStationInfo positive(info);
  MakeZerosPositive(positive);
  return SerializeToBytes<BaseStationInfo>(positive, out);
}

// Decodes `bytes` into `message`. An empty sequence fails silently; bytes that
// do not decode write one line to standard output.
inline bool ParseFromBytes(const std::vector<uint8_t> & bytes, google::protobuf::MessageLite & message) {
  if (bytes.empty()) {
    return false;
  }
  if (bytes.size() <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) &&
      message.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
    return true;
  }
  std::cout << "parse protobuf data failed" << std::endl;
  return false;
}

}  // namespace data_center

#endif  // DATA_CENTER__CODEC_HPP_
