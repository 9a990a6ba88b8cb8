// SPDX-License-Identifier: Apache-2.0
// What callers of robot_status_query see: the service name, the command
// numbers, the result codes and the fixed answer texts. The node and the
// clients take them from here; Python's data_center.protocol is generated
// from this file at build time (python/protocol_from_header.py), so every
// constant stays on one line in one of the two forms below.
#ifndef DATA_CENTER__PROTOCOL_HPP_
#define DATA_CENTER__PROTOCOL_HPP_

#include <cstdint>

namespace data_center {

inline constexpr char kServiceName[] = "robot_status_query";

// Command numbers (request `cmd_id`).
inline constexpr int32_t kCmdQueryLastMap = 1002;       // answer: MapInfo
inline constexpr int32_t kCmdIssueBaseStation = 10001;  // request: BaseStationInfo
inline constexpr int32_t kCmdQueryBaseStation = 10002;  // answer: BaseStationInfo
inline constexpr int32_t kCmdQueryRobotInfo = 10003;    // answer: RobotInfoResp

// Result codes (response `code`).
inline constexpr int32_t kCodeOk = 0;
inline constexpr int32_t kCodeNotSupported = 10002;
inline constexpr int32_t kCodeSerializeFailed = 10005;
inline constexpr int32_t kCodeDeserializeFailed = 10006;
inline constexpr int32_t kCodeSaveFailed = 10007;
inline constexpr int32_t kCodeInternalError = 10008;

// Answer texts (response `msg`). Callers compare them as they stand, odd
// spellings included, so they are kept exactly as deployed; the same goes for
// the log texts in the node ("is not support", "unknow", ParseBaseStaionInfo).
inline constexpr char kMsgDeserializeFailed[] = "Deserialize data failed";
inline constexpr char kMsgStationSerializeFailed[] = "stationInfo SerializeToArray failed";
inline constexpr char kMsgRobotInfoSerializeFailed[] = "robotInfo SerializeToArray failed";
inline constexpr char kMsgSaveFailed[] = "Save station info failed";
inline constexpr char kMsgHandleQueryFailed[] = "Handle query failed";

// Replies a typed client holds until it takes them: every client of the
// service receives every caller's replies and drops the others' only as it
// takes them, so a client whose process waits for the CPU while other callers
// are answered loses its own answer from a shallow history. 8 callers on a
// contended CPU lost none at this depth. The service keeps its keep-last 10.
inline constexpr int32_t kClientReplyDepth = 1000;

// The largest station list 10001 takes, in encoded bytes, as sent and as
// stored. 10002 answers the stored list, so a typed client holding
// kClientReplyDepth answers holds at most 64 MiB of them. About 2,000
// stations fit.
inline constexpr int32_t kMaxStationListBytes = 65536;

}  // namespace data_center

#endif  // DATA_CENTER__PROTOCOL_HPP_
