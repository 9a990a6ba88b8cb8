// SPDX-License-Identifier: Apache-2.0
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec.hpp"
#include "proto/data_center.pb.h"

namespace data_center {
namespace {

std::vector<uint8_t> Bytes(const std::string & text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(Codec, EmptyMessageEncodesToNothingAndEmptyBytesDoNotDecode) {
  std::vector<uint8_t> out{1, 2, 3};
  BaseStationInfo info;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(SerializeToBytes(info, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ParseFromBytes({}, info));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(Codec, PoseRoundTripsWithExactBytes) {
  BsPose pose;
  pose.set_map_id(3);
  pose.set_x(1.5);
  pose.set_y(-2.0);
  pose.set_map_id_str("m3");
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(SerializeToBytes(pose, bytes));
  EXPECT_EQ(bytes,
            Bytes(std::string("\x08\x03\x11\0\0\0\0\0\0\xF8\x3F\x19\0\0\0\0\0\0\0\xC0\x22\x02m3", 24)));

  BsPose back;
  ASSERT_TRUE(ParseFromBytes(bytes, back));
  EXPECT_EQ(back.map_id(), 3);
  EXPECT_EQ(back.x(), 1.5);
  EXPECT_EQ(back.y(), -2.0);
  EXPECT_EQ(back.map_id_str(), "m3");
}

TEST(Codec, BadBytesFailWithOneLine) {
  // A tag without its length, and a map_id_str that is not UTF-8.
  for (const std::string & bad : {std::string("\x0A"), std::string("\x0A\x03\x22\x01\xFF")}) {
    BaseStationInfo info;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ParseFromBytes(Bytes(bad), info));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "parse protobuf data failed\n");
  }
}

TEST(Codec, EncodingDoesNotRefuseNonUtf8) {
  MapInfo map;
  map.set_map_id_str("\xFF");
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(SerializeToBytes(map, bytes));
  EXPECT_EQ(bytes, Bytes("\x12\x01\xFF"));
}

}  // namespace
}  // namespace data_center
