// SPDX-License-Identifier: Apache-2.0
#include "payloads.hpp"

#include "proto/data_center.pb.h"

namespace bench {
namespace {

std::vector<uint8_t> Serialize(const google::protobuf::Message & message) {
  std::vector<uint8_t> bytes(message.ByteSizeLong());
  if (!bytes.empty() && !message.SerializeToArray(bytes.data(), static_cast<int>(bytes.size()))) {
    bytes.clear();
  }
  return bytes;
}

template <class MessageT>
bool Decode(const std::vector<uint8_t> & payload, MessageT & message) {
  return message.ParseFromArray(payload.data(), static_cast<int>(payload.size()));
}

}  // namespace

std::vector<uint8_t> MakeStationList(int poses) {
  data_center::BaseStationInfo info;
  for (int i = 0; i < poses; ++i) {
    data_center::BsPose * pose = info.add_bs_pose();
    const int map = 1 + i % 7;
    pose->set_map_id(map);
    pose->set_x(0.5 * i + 0.125);
    pose->set_y(-0.25 * i - 3.0);
    pose->set_map_id_str("map_" + std::to_string(map));
  }
  return Serialize(info);
}

std::string CheckAnswer(int32_t cmd, const std::vector<uint8_t> & payload, const AnswerExpectation & expect) {
  switch (cmd) {
    case 1002: {
      data_center::MapInfo map;
      if (!Decode(payload, map)) {
        return "1002 answer is not a MapInfo";
      }
      if (!expect.map_id.empty() && map.map_id_str() != expect.map_id) {
        return "1002 answer names map '" + map.map_id_str() + "', expected '" + expect.map_id + "'";
      }
      return "";
    }
    case 10001:
      return payload.empty() ? "" : "10001 answer carries a payload";
    case 10002: {
      data_center::BaseStationInfo info;
      if (!Decode(payload, info)) {
        return "10002 answer is not a BaseStationInfo";
      }
      if (expect.poses >= 0 && info.bs_pose_size() != expect.poses) {
        return "10002 answer holds " + std::to_string(info.bs_pose_size()) + " poses, expected " +
               std::to_string(expect.poses);
      }
      // The list was stored by MakeStationList: spot-check that it came back intact.
      const std::vector<uint8_t> sent = MakeStationList(info.bs_pose_size());
      if (expect.poses >= 0 && sent != payload) {
        return "10002 answer differs from the stored list";
      }
      return "";
    }
    case 10003: {
      data_center::RobotInfoResp info;
      if (!Decode(payload, info) || !info.has_job_info()) {
        return "10003 answer is not a RobotInfoResp with job_info";
      }
      return "";
    }
    default:
      return payload.empty() ? "" : "answer to an unknown command carries a payload";
  }
}

}  // namespace bench
