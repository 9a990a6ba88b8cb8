// SPDX-License-Identifier: Apache-2.0
// The service callback of robot_status_query: a table from command number to
// handler, the handlers, and the base-station list they keep.
#ifndef DATA_CENTER__QUERY_HANDLER_HPP_
#define DATA_CENTER__QUERY_HANDLER_HPP_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <korvane_protocol/srv/data_center_srv.hpp>

#include "data_center/protocol.hpp"
#include "proto/data_center.pb.h"

namespace data_center {

// Written by another component of the robot; read only here.
inline constexpr char kHistoryMapPath[] = "/opt/korvane/data/resource/map/history.map";
// Relative: resolved against the working folder of the process.
inline constexpr char kStationInfoFile[] = "StationInfo.conf";

class QueryHandler {
 public:
  using Request = korvane_protocol::srv::DataCenterSrv::Request;
  using Response = korvane_protocol::srv::DataCenterSrv::Response;
  // The parameters are shared pointers taken by value: rclcpp matches a
  // service callback's signature on exactly these types.
  using HandlerFunc = std::function<bool(const std::shared_ptr<Request>, std::shared_ptr<Response>)>;

  QueryHandler();
  // For tests: reads the map history from `history_map_path` instead.
  explicit QueryHandler(std::string history_map_path);

  // The command table binds `this`: a copy or a moved-to object would still
  // call into the original, so neither is allowed.
  QueryHandler(const QueryHandler &) = delete;
  QueryHandler & operator=(const QueryHandler &) = delete;
  QueryHandler(QueryHandler &&) = delete;
  QueryHandler & operator=(QueryHandler &&) = delete;

  // The service callback. Lets no exception out.
  bool HandleQuery(const std::shared_ptr<Request> request, std::shared_ptr<Response> response);

  // 1002: the identifier of the last used map, as a MapInfo.
  bool QueryLastMap(const std::shared_ptr<Request> request, std::shared_ptr<Response> response);
  // 10001: replaces the station list, on disk first, then in memory.
  bool IssueBaseStation(const std::shared_ptr<Request> request, std::shared_ptr<Response> response);
  // 10002: the station list.
  bool QueryBaseStation(const std::shared_ptr<Request> request, std::shared_ptr<Response> response);
  // 10003: the job statistics, as a RobotInfoResp.
  bool QueryRobotInfo(const std::shared_ptr<Request> request, std::shared_ptr<Response> response);

  // Decodes the request payload; false when it is empty, larger than
  // kMaxStationListBytes or does not decode.
  bool ParseBaseStaionInfo(const std::shared_ptr<Request> request, BaseStationInfo & info);

 protected:
  // Reachable by tests that need a handler of their own.
  std::unordered_map<int32_t, HandlerFunc> handlers_;

 private:
  BaseStationInfo station_info_;
  // station_info_ encoded, made when the list changes rather than on every
  // query: queries far outnumber changes.
  std::vector<uint8_t> station_bytes_;
  bool station_bytes_current_ = false;
  std::string history_map_path_;
  // The station file has been found to need in-place saves, and the log says so.
  bool in_place_reported_ = false;
  // The station file could not be read at start. It may still hold the
  // robot's list (a read error, a file left unreadable to this user), so the
  // first save keeps it under another name instead of writing over it.
  bool station_file_unread_ = false;

  void LoadStationInfo();
};

}  // namespace data_center

#endif  // DATA_CENTER__QUERY_HANDLER_HPP_
