// SPDX-License-Identifier: Apache-2.0
#include "station_lists.hpp"

#include "proto/data_center.pb.h"

namespace e2e {

std::string MakeList(const std::string & tag, int32_t seq, int count) {
  data_center::BaseStationInfo info;
  for (int i = 0; i < count; ++i) {
    auto * pose = info.add_bs_pose();
    pose->set_map_id(seq);
    pose->set_x(i);
    pose->set_y(seq + i / 4.0);
    pose->set_map_id_str(tag + ":" + std::to_string(seq));
  }
  return info.SerializeAsString();
}

std::optional<ListId> ReadList(const std::string & bytes) {
  data_center::BaseStationInfo info;
  if (bytes.empty() || !info.ParseFromString(bytes) || info.bs_pose_size() == 0) {
    return std::nullopt;
  }
  ListId id;
  id.seq = info.bs_pose(0).map_id();
  id.count = info.bs_pose_size();
  const std::string & name = info.bs_pose(0).map_id_str();
  const auto colon = name.rfind(':');
  if (colon == std::string::npos) {
    return std::nullopt;
  }
  id.tag = name.substr(0, colon);
  // The exact bytes MakeList gives for this identity: anything else, however
  // close, is not one of the lists that were sent.
  if (MakeList(id.tag, id.seq, id.count) != bytes) {
    return std::nullopt;
  }
  return id;
}

std::string TwoPoses() {
  data_center::BaseStationInfo info;
  auto * a = info.add_bs_pose();
  a->set_map_id(3);
  a->set_x(1.5);
  a->set_y(-2.0);
  a->set_map_id_str("m3");
  auto * b = info.add_bs_pose();
  b->set_map_id(7);
  b->set_x(-0.25);
  b->set_y(12.75);
  b->set_map_id_str("second map");
  return info.SerializeAsString();
}

}  // namespace e2e
