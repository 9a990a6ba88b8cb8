// SPDX-License-Identifier: Apache-2.0
#include <cmath>
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

TEST(Codec, NegativeZeroCoordinatesOfAStationListEncodeAsPositiveZero) {
  struct Case {
    double x;
    double y;
    std::string bytes;
  } cases[] = {
      {-0.0, 0.0, std::string("\x0A\x02\x08\x07", 4)},
      {0.0, -0.0, std::string("\x0A\x02\x08\x07", 4)},
      {-0.0, -0.0, std::string("\x0A\x02\x08\x07", 4)},
      // Only zero changes: a negative coordinate keeps its sign.
      {-0.0, -2.0, std::string("\x0A\x0B\x08\x07\x19\0\0\0\0\0\0\0\xC0", 13)},
  };
  for (const auto & c : cases) {
    BaseStationInfo info;
    BsPose * pose = info.add_bs_pose();
    pose->set_map_id(7);
    pose->set_x(c.x);
    pose->set_y(c.y);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SerializeToBytes(info, bytes));
    EXPECT_EQ(bytes, Bytes(c.bytes)) << c.x << " " << c.y;
    // The list itself is left as it was.
    EXPECT_TRUE(std::signbit(info.bs_pose(0).x()) == std::signbit(c.x));
  }
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
