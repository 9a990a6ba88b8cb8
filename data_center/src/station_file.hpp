// SPDX-License-Identifier: Apache-2.0
// The station file: exactly one encoded BaseStationInfo, nothing before or
// after it. These functions report failures to the caller and log nothing.
#ifndef DATA_CENTER__STATION_FILE_HPP_
#define DATA_CENTER__STATION_FILE_HPP_

#include <ctime>
#include <string>
#include <vector>

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
  std::string kept;      // SaveStationFileKeepingOld: the file it keeps (or failed to), if any
  std::string kept_as;   // its new name, once kept
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

// Like SaveStationFile, for a file that could not be read and may still hold
// the robot's list: the regular file the save would replace (the target of a
// link, as the save follows it) is kept beside it under a new name,
// `<file>.unreadable-<now in UTC, as 20261208T191500Z>`, with ".1", ".2", ...
// when that name is taken; an existing file is never replaced. The name
// `path` holds the old file or the whole new list at every instant, crashes
// included: the new list is written and flushed first, and the old file gets
// its second name before the new list takes the first (where the kernel
// refuses a hard link to it, the two swap names in one step). It is never
// rewritten in place, which would write over what is kept: where that would
// be the only way, the save fails and the file stays as it was. With nothing
// to keep (no file, or a FIFO, a device or a folder under the name) it is a
// plain save.
SaveResult SaveStationFileKeepingOld(const std::string & path, const BaseStationInfo & info, std::time_t now);

// The files SaveStationFileKeepingOld kept beside `path` (or the target of
// the link `path`), oldest first, named as `path` names its folder.
std::vector<std::string> FilesKeptBeside(const std::string & path);

// Removes temporary files that SaveStationFile left beside `path` (or the
// target of the link `path`) when its process died mid-save; those of processes still running are kept.
// Returns how many were removed.
int RemoveStaleTemporaryFiles(const std::string & path);

}  // namespace data_center

#endif  // DATA_CENTER__STATION_FILE_HPP_
