// SPDX-License-Identifier: Apache-2.0
// The payload messages of robot_status_query (namespace data_center):
// MapInfo, BsPose, BaseStationInfo, JobInfo, RobotInfoReq, RobotInfoResp,
// generated from share/data_center/proto/data_center.proto by the protoc of
// the protobuf this package was built with.
#ifndef DATA_CENTER__PAYLOADS_HPP_
#define DATA_CENTER__PAYLOADS_HPP_

#include "data_center/proto/data_center.pb.h"

#endif  // DATA_CENTER__PAYLOADS_HPP_
