// SPDX-License-Identifier: Apache-2.0
// The station file: exactly one encoded BaseStationInfo, nothing before or
// after it. These functions report failures to the caller and log nothing.
#ifndef DATA_CENTER__STATION_FILE_HPP_
#define DATA_CENTER__STATION_FILE_HPP_

#include <ctime>
#include <string>

#include "proto/data_center.pb.h"

namespace data_center {

enum class StationFileStatus {
  kLoaded,   // `info` holds the file's list (an empty file is an empty list)
  kMissing,  // there is no such file; `info` is empty
  kFailed,   // unreadable or not a station list; `info` is empty, `error` says why
};

StationFileStatus LoadStationFile(const std::string & path, BaseStationInfo & info, std::string & error);

enum class SaveStatus {
  kSaved,       // the file holds the new list
  kNotDurable,  // the file holds the new list, but the folder could not be
                // flushed: a power cut may still bring the old one back
  kFailed,      // the file holds the old list as before
};

struct SaveResult {
  SaveStatus status = SaveStatus::kFailed;
  std::string error;     // why, for kNotDurable and kFailed
  std::string in_place;  // when the file was rewritten in place instead of replaced: why
};

// Stores `info` in the file so that a crash, a power cut or a full disk
// leaves either the old or the new list on disk, never a part of one: the list
// goes to a temporary file beside the file, is flushed to the device and
// renamed over it, then the folder is flushed. The rename is the commit point.
// A symbolic link is followed, so the link stays and its target gets the list.
// Where the file cannot be replaced (no temporary file can be made beside it,
// it is a mount point, or it has more than one hard link, whose other names
// would keep the old list) it is rewritten in place: truncated, written and
// flushed; a failure there puts the old content back where it can.
SaveResult SaveStationFile(const std::string & path, const BaseStationInfo & info);

enum class SetAsideStatus {
  kSetAside,  // the file is now under `aside`; nothing is at its old name
  kNothing,   // no regular file where a save would write: no list to keep
  kFailed,    // the file stays where it was; `error` says why
};

struct SetAsideResult {
  SetAsideStatus status = SetAsideStatus::kFailed;
  std::string file;   // what was moved: `path`, or the target of the link `path`
  std::string aside;  // its new name, for kSetAside
  std::string error;  // why, for kFailed
};

// Moves the regular file that SaveStationFile(`path`, ...) would replace or
// rewrite (the target of a link, as the save follows it) to a new name beside
// it: `<file>.unreadable-<now in UTC, as 20261208T191500Z>`, with ".1", ".2",
// ... when that name is taken. An existing file is never replaced. Where the
// file cannot be moved it stays as it was and the result says why.
SetAsideResult SetAsideStationFile(const std::string & path, std::time_t now);

// Removes temporary files that SaveStationFile left beside `path` (or the
// target of the link `path`) when its process died mid-save; those of processes still running are kept.
// Returns how many were removed.
int RemoveStaleTemporaryFiles(const std::string & path);

}  // namespace data_center

#endif  // DATA_CENTER__STATION_FILE_HPP_
