// SPDX-License-Identifier: Apache-2.0
#include "query_handler.hpp"

#include <unistd.h>

#include <cstddef>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <boost/system/error_code.hpp>

#include "codec.hpp"
#include "file_reading.hpp"
#include "logger.hpp"
#include "path_utils.hpp"
#include "station_file.hpp"

namespace data_center {

QueryHandler::QueryHandler() : QueryHandler(kHistoryMapPath) {}

QueryHandler::QueryHandler(std::string history_map_path) : history_map_path_(std::move(history_map_path)) {
  using std::placeholders::_1;
  using std::placeholders::_2;
  handlers_.emplace(kCmdQueryLastMap, std::bind(&QueryHandler::QueryLastMap, this, _1, _2));
  handlers_.emplace(kCmdIssueBaseStation, std::bind(&QueryHandler::IssueBaseStation, this, _1, _2));
  handlers_.emplace(kCmdQueryBaseStation, std::bind(&QueryHandler::QueryBaseStation, this, _1, _2));
  handlers_.emplace(kCmdQueryRobotInfo, std::bind(&QueryHandler::QueryRobotInfo, this, _1, _2));
  LoadStationInfo();
}

void QueryHandler::LoadStationInfo() {
  // Saves cut short by a crash leave their temporary files behind; without
  // this a robot that crashes now and then would collect them for ever.
  RemoveStaleTemporaryFiles(kStationInfoFile);
  std::string error;
  switch (LoadStationFile(kStationInfoFile, station_info_, error)) {
    case StationFileStatus::kLoaded:
      break;
    case StationFileStatus::kFailed:
      station_file_unread_ = true;
      DATA_CENTER_LOG_ERROR("Load station info from {} failed: {}", kStationInfoFile, error);
      break;
    case StationFileStatus::kMissing: {
      // An empty list, unless an earlier run kept a file it could not read:
      // then the operator must learn where the list may be.
      const std::vector<std::string> kept = FilesKeptBeside(kStationInfoFile);
      if (!kept.empty()) {
        DATA_CENTER_LOG_ERROR(
            "No station file {}, the station list is empty; a station file that could not be read was "
            "kept as {}{}",
            kStationInfoFile, kept.back(),
            kept.size() > 1 ? " (the newest of " + std::to_string(kept.size()) + " such files)" : "");
      }
      break;
    }
  }
}

bool QueryHandler::HandleQuery(const std::shared_ptr<Request> request, std::shared_ptr<Response> response) {
  // Nothing may leave the service callback: out of memory on a huge payload,
  // say, must cost one request, not the node.
  std::string reason;
  try {
    const auto entry = handlers_.find(request->cmd_id);
    if (entry == handlers_.end()) {
      DATA_CENTER_LOG_ERROR("current query cmd id:({}) is not support", request->cmd_id);
      response->code = kCodeNotSupported;
      return false;
    }
    return entry->second(request, response);
  } catch (const std::exception & e) {
    try {
      reason = e.what();
    } catch (...) {
    }
  } catch (...) {
  }
  // A half-written answer is not sent.
  response->code = kCodeInternalError;
  response->biz_data.clear();
  try {
    response->msg = kMsgHandleQueryFailed;
    DATA_CENTER_LOG_ERROR("Handle query cmd id:({}) failed: {}", request->cmd_id,
                          reason.empty() ? std::string("unknown exception") : reason);
  } catch (...) {
    // Out of memory even for this: the code alone tells the caller.
  }
  return false;
}

bool QueryHandler::QueryLastMap(const std::shared_ptr<Request> /*request*/,
                                std::shared_ptr<Response> response) {
  response->code = kCodeOk;
  std::string map_id;
  const std::string path = ExpandUserPath(history_map_path_);
  // Opened first and examined afterwards: a FIFO or device put under the name
  // at any moment must not stop the node from answering. Only a regular file
  // is read; anything else counts as unreadable.
  int fd = -1;
  int open_errno = 0;
  const OpenStatus opened = OpenRegularFile(path, fd, open_errno);
  if (opened == OpenStatus::kOpened) {
    int read_errno = 0;
    ReadFirstToken(fd, map_id, read_errno);
    ::close(fd);
  }
  boost::system::error_code status_error;
  // Why the open failed, in the log's terms: an entry that exists but cannot
  // be read is "empty", one whose status cannot be read says why.
  if (opened == OpenStatus::kOpened || opened == OpenStatus::kNotRegular ||
      (opened == OpenStatus::kFailed && PathExists(path, status_error))) {
    if (map_id.empty()) {
      DATA_CENTER_LOG_ERROR("map history file empty");
    }
  } else if (status_error) {
    DATA_CENTER_LOG_ERROR("map history file is not exist: {}", status_error.message());
  } else {
    DATA_CENTER_LOG_ERROR("map history file is not exist");
  }
  std::cout << "mapID = " << map_id << std::endl;

  MapInfo map_info;
  map_info.set_map_id_str(map_id);
  std::vector<uint8_t> bytes;
  if (!SerializeToBytes(map_info, bytes)) {
    DATA_CENTER_LOG_ERROR("mapInfo SerializeToArray failed");
    response->code = kCodeSerializeFailed;
    return false;
  }
  response->biz_data.swap(bytes);  // the answer takes the encoded bytes over, no copy
  return true;
}

bool QueryHandler::ParseBaseStaionInfo(const std::shared_ptr<Request> request, BaseStationInfo & info) {
  // The payload is already a byte sequence: decode it in place, no copy.
  const std::vector<uint8_t> & bytes = request->biz_data;
  if (bytes.empty()) {
    return false;
  }
  // Refused before decoding: what is stored is copied into every 10002
  // answer, and every typed client keeps up to kClientReplyDepth of those.
  const std::size_t limit = static_cast<std::size_t>(kMaxStationListBytes);
  if (bytes.size() > limit) {
    DATA_CENTER_LOG_ERROR("Station list of {} bytes refused: the limit is {} bytes", bytes.size(), limit);
    return false;
  }
  if (!ParseFromBytes(bytes, info)) {
    DATA_CENTER_LOG_ERROR("Parse request biz_data failed");
    return false;
  }
  // A list can encode longer than it came (a negative map_id sent in five
  // bytes is written in ten), and the encoded form is what is kept.
  const std::size_t stored = info.ByteSizeLong();
  if (stored > limit) {
    DATA_CENTER_LOG_ERROR("Station list of {} bytes refused: it encodes to {} bytes, the limit is {} bytes",
                          bytes.size(), stored, limit);
    return false;
  }
  return true;
}

bool QueryHandler::IssueBaseStation(const std::shared_ptr<Request> request,
                                    std::shared_ptr<Response> response) {
  DATA_CENTER_LOG_DEBUG("Into IssueBaseStation");
  BaseStationInfo info;
  if (!ParseBaseStaionInfo(request, info)) {
    DATA_CENTER_LOG_ERROR("Deserialize data failed");
    response->code = kCodeDeserializeFailed;
    response->msg = kMsgDeserializeFailed;
    return false;
  }
  // Disk first: the list in memory only changes once the new one is stored,
  // so memory and disk never disagree after an answer. Whatever the file
  // that could not be read holds must outlive the save.
  const SaveResult saved = station_file_unread_
                               ? SaveStationFileKeepingOld(kStationInfoFile, info, std::time(nullptr))
                               : SaveStationFile(kStationInfoFile, info);
  if (saved.status == SaveStatus::kFailed) {
    if (!saved.kept.empty()) {
      DATA_CENTER_LOG_ERROR(
          "Save station info failed: the station file that could not be read at start cannot be kept: {}",
          saved.error);
    } else {
      DATA_CENTER_LOG_ERROR("Save station info failed: {}", saved.error);
    }
    response->code = kCodeSaveFailed;
    response->msg = kMsgSaveFailed;
    return false;
  }
  station_file_unread_ = false;
  if (!saved.kept_as.empty()) {
    DATA_CENTER_LOG_ERROR("Station file {} could not be read at start, moved it to {}", saved.kept,
                          saved.kept_as);
  }
  // Once is enough to tell the operator how the deployment stores the list.
  if (!saved.in_place.empty() && !in_place_reported_) {
    in_place_reported_ = true;
    DATA_CENTER_LOG_ERROR("Station info saves are not atomic, the file is rewritten in place: {}",
                          saved.in_place);
  }
  if (saved.status == SaveStatus::kNotDurable) {
    DATA_CENTER_LOG_ERROR("Station info saved, but a power cut may still bring the old list back: {}",
                          saved.error);
  }
  station_info_.Swap(&info);
  station_bytes_current_ = false;
  response->code = kCodeOk;
  return true;
}

bool QueryHandler::QueryBaseStation(const std::shared_ptr<Request> /*request*/,
                                    std::shared_ptr<Response> response) {
  DATA_CENTER_LOG_DEBUG("Into QueryBaseStation");
  if (!station_bytes_current_) {
    if (!SerializeToBytes(station_info_, station_bytes_)) {
      DATA_CENTER_LOG_ERROR("stationInfo SerializeToArray failed");
      response->code = kCodeSerializeFailed;
      response->msg = kMsgStationSerializeFailed;
      return false;
    }
    station_bytes_current_ = true;
  }
  response->biz_data = station_bytes_;
  return true;
}

bool QueryHandler::QueryRobotInfo(const std::shared_ptr<Request> /*request*/,
                                  std::shared_ptr<Response> response) {
  RobotInfoResp robot_info;
  JobInfo * job_info = robot_info.mutable_job_info();
  job_info->set_work_hours(3000);
  job_info->set_completed_tasks(40);
  job_info->set_clean_areas(80000);
  std::vector<uint8_t> bytes;
  if (!SerializeToBytes(robot_info, bytes)) {
    DATA_CENTER_LOG_ERROR("robogInfo SerializeToArray failed");
    response->code = kCodeSerializeFailed;
    response->msg = kMsgRobotInfoSerializeFailed;
    return false;
  }
  response->biz_data.swap(bytes);  // the answer takes the encoded bytes over, no copy
  return true;
}

}  // namespace data_center
