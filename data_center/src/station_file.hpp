// The station file: exactly one encoded BaseStationInfo, nothing before or
// after it. These functions report failures to the caller and log nothing.
#ifndef DATA_CENTER_STATION_FILE_HPP_
#define DATA_CENTER_STATION_FILE_HPP_

#include <string>

#include "proto/data_center.pb.h"

namespace data_center {

enum class StationFileStatus {
  kLoaded,   // `info` holds the file's list (an empty file is an empty list)
  kMissing,  // there is no such file; `info` is empty
  kFailed,   // unreadable or not a station list; `info` is empty, `error` says why
};

StationFileStatus LoadStationFile(const std::string & path, BaseStationInfo & info, std::string & error);

// Replaces the file with `info` so that a crash, a power cut or a full disk
// leaves either the old or the new list on disk, never a part of one: the list
// goes to a temporary file in the same folder, is flushed to the device and
// renamed over `path`, then the folder itself is flushed. On failure before the
// rename the temporary file is removed and `path` is untouched. Only a failure
// to flush the folder comes after the rename: the new list is then in place but
// may not survive a power cut, and that is reported as a failure too.
bool SaveStationFile(const std::string & path, const BaseStationInfo & info, std::string & error);

// Removes temporary files that SaveStationFile left beside `path` when its
// process died mid-save; those of processes still running are kept. Returns
// how many were removed.
int RemoveStaleTemporaryFiles(const std::string & path);

}  // namespace data_center

#endif  // DATA_CENTER_STATION_FILE_HPP_
