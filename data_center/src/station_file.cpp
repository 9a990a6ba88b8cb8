// SPDX-License-Identifier: Apache-2.0
#include "station_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <boost/filesystem/path.hpp>

#include "codec.hpp"
#include "file_reading.hpp"

namespace data_center {
namespace {

// The temporary file of a save is `path` + this + the saving process's id.
const char kTemporarySuffix[] = ".tmp.";

std::string Reason(const std::string & what, int error_number) {
  return what + ": " + std::generic_category().message(error_number);
}

int OpenRetrying(const char * path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const std::vector<uint8_t> & bytes, const std::string & name, std::string & error) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      error = Reason("write " + name, errno);
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

bool SyncFolder(const std::string & folder, std::string & error) {
  const int fd = OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = Reason("open folder " + folder, errno);
    return false;
  }
  // EINVAL: the file system cannot flush folders; the rename is all it offers.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  const int sync_errno = errno;
  ::close(fd);
  if (!synced) {
    error = Reason("fsync folder " + folder, sync_errno);
  }
  return synced;
}

// Where the list really goes: `path` with every symbolic link of its last
// component followed (the folders on the way are followed by the kernel). A
// dangling link gives its target, which the save then creates. Only a loop is
// an error; any other failure to look stops here and the save reports it.
bool ResolveLinks(const std::string & path, std::string & target, std::string & error) {
  target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat entry;
    if (::lstat(target.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) {
      return true;
    }
    std::vector<char> link(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : 255) + 1);
    const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
      return true;  // changed under us; the save itself will see what is there
    }
    const std::string next(link.data(), static_cast<std::size_t>(length));
    if (next.empty() || next[0] == '/') {
      target = next;
    } else {
      const boost::filesystem::path parent = boost::filesystem::path(target).parent_path();
      target = parent.empty() ? next : (parent / next).string();
    }
  }
  error = Reason("follow " + path, ELOOP);
  return false;
}

std::string FolderOf(const std::string & path) {
  const std::string folder = boost::filesystem::path(path).parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

bool PreadAll(int fd, std::string & bytes, std::size_t size) {
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, &bytes[done], size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      if (got == 0) {
        bytes.resize(done);  // shorter than its size said: take what is there
        return true;
      }
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Truncates `fd` and writes `bytes` from its start, flushed to the device.
bool Rewrite(int fd, const std::vector<uint8_t> & bytes, const std::string & name, std::string & error) {
  int result;
  do {
    result = ::ftruncate(fd, 0);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error = Reason("truncate " + name, errno);
    return false;
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    error = Reason("seek " + name, errno);
    return false;
  }
  if (!WriteAll(fd, bytes, name, error)) {
    return false;
  }
  if (::fsync(fd) != 0) {
    error = Reason("fsync " + name, errno);
    return false;
  }
  return true;
}

// The save for a file that cannot be replaced. Nothing makes it atomic, so
// a failure writes the old content back.
bool SaveInPlace(const std::string & target, const std::vector<uint8_t> & bytes, std::string & error) {
  // Non-blocking and without following a link, like the readers: whatever
  // replaced the file since it was examined is refused, not waited on.
  const int fd =
      OpenRetrying(target.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = Reason("open " + target, errno);
    return false;
  }
  struct stat file;
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
    error = "open " + target + ": not a regular file";
    ::close(fd);
    return false;
  }
  std::string old_content;
  if (!PreadAll(fd, old_content, static_cast<std::size_t>(file.st_size))) {
    error = Reason("read " + target, errno);
    ::close(fd);
    return false;
  }
  bool ok = Rewrite(fd, bytes, target, error);
  if (!ok) {
    std::string restore_error;
    const std::vector<uint8_t> old_bytes(old_content.begin(), old_content.end());
    if (Rewrite(fd, old_bytes, target, restore_error)) {
      error += "; the old content was written back";
    } else {
      error += "; writing the old content back failed too (" + restore_error + ")";
    }
  }
  if (::close(fd) != 0 && errno != EINTR && ok) {
    error = Reason("close " + target, errno);
    ok = false;
  }
  return ok;
}

// Failures to create a file in the folder that say the folder, not the
// file, may not be written: the file itself may still be.
bool FolderRefusesNewFiles(int error_number) {
  return error_number == EACCES || error_number == EPERM || error_number == EROFS;
}

}  // namespace

StationFileStatus LoadStationFile(const std::string & path, BaseStationInfo & info, std::string & error) {
  info.Clear();
  int fd = -1;
  int error_number = 0;
  switch (OpenRegularFile(path, fd, error_number)) {
    case OpenStatus::kOpened:
      break;
    case OpenStatus::kMissing:
      return StationFileStatus::kMissing;
    case OpenStatus::kNotRegular:
      error = "not a regular file";
      return StationFileStatus::kFailed;
    case OpenStatus::kFailed:
      error = Reason("open", error_number);
      return StationFileStatus::kFailed;
  }
  google::protobuf::io::FileInputStream stream(fd);
  stream.SetCloseOnDelete(true);
  // The decoder takes a read error for the end of the input, so it is checked
  // apart.
  if (info.ParseFromZeroCopyStream(&stream) && stream.GetErrno() == 0) {
    return StationFileStatus::kLoaded;
  }
  // Half a list is worse than none: a decoder stopping midway keeps a prefix.
  info.Clear();
  error =
      stream.GetErrno() != 0 ? Reason("read", stream.GetErrno()) : std::string("not an encoded station list");
  return StationFileStatus::kFailed;
}

namespace {

// The atomic save cannot be done (`why`): rewrites `target` in place instead.
// On failure the error keeps the first reason and adds the second.
void FallBackToInPlace(std::string why, const std::string & target, const std::vector<uint8_t> & bytes,
                       SaveResult & result) {
  result.in_place = std::move(why);
  std::string in_place_error;
  if (SaveInPlace(target, bytes, in_place_error)) {
    result.status = SaveStatus::kSaved;
    result.error.clear();
  } else {
    result.error += "; in place: " + in_place_error;
  }
}

}  // namespace

namespace {

// rename() that fails with EEXIST rather than replace `to`. Where the file
// system cannot rename that way, a second name is made (link() never
// replaces either) and the first removed.
bool RenameNoReplace(const std::string & from, const std::string & to, int & error_number) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) {
    error_number = errno;
    return false;
  }
#endif
  if (::link(from.c_str(), to.c_str()) != 0) {
    error_number = errno;
    return false;
  }
  if (::unlink(from.c_str()) != 0) {
    error_number = errno;
    ::unlink(to.c_str());  // as it was: one name
    return false;
  }
  return true;
}

const char kKeptSuffix[] = ".unreadable-";
// Names tried for one file and one second before giving up.
constexpr int kKeptNames = 100;

// Calls `make` with `<file>.unreadable-<now>`, then with ".1", ".2", ...
// appended, while it fails with EEXIST. The name made, or "" and `error`.
std::string MakeKeptName(const std::string & file, std::time_t now, const std::string & what,
                         const std::function<int(const std::string &)> & make, int & error_number,
                         std::string & error) {
  std::tm utc{};
  char stamp[32];
  if (::gmtime_r(&now, &utc) == nullptr || std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc) == 0) {
    error_number = EINVAL;
    error = "no name for the time " + std::to_string(static_cast<long long>(now));
    return "";
  }
  const std::string base = file + kKeptSuffix + stamp;
  for (int n = 0; n < kKeptNames; ++n) {
    std::string name = n == 0 ? base : base + "." + std::to_string(n);
    error_number = make(name);
    if (error_number == 0) {
      return name;
    }
    if (error_number != EEXIST) {
      error = Reason(std::string(what).append(" ").append(name), error_number);
      return "";
    }
  }
  error = what + " " + base + " and the next " + std::to_string(kKeptNames - 1) + " names: all taken";
  return "";
}

// The commit of SaveStationFileKeepingOld: `temp` holds the new list,
// flushed; `target` the old file. On failure both are as they were and
// `temp` is still there to be removed.
bool CommitKeepingOld(const std::string & target, const std::string & temp, std::time_t now,
                      SaveResult & result) {
  const std::string folder = FolderOf(target);
  // The old file gets its second name, then the new list takes the first
  // (rename() drops the old file's first name in the same step).
  int link_errno = 0;
  std::string aside = MakeKeptName(
      target, now, "link " + target + " to",
      [&](const std::string & name) { return ::link(target.c_str(), name.c_str()) == 0 ? 0 : errno; },
      link_errno, result.error);
  // The folder is flushed between the steps so that no power cut keeps the
  // second of them without the first. One that cannot be flushed fails the
  // last flush as well, which the result reports.
  std::string ignored;
  if (!aside.empty()) {
    (void)SyncFolder(folder, ignored);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      result.error = Reason("rename " + temp + " to " + target, errno);
      ::unlink(aside.c_str());
      return false;
    }
    result.kept_as = aside;
    return true;
  }
  // EPERM: the kernel refuses hard links to another user's file that this
  // one may not read and write (fs.protected_hardlinks), as after a run as
  // root, or the file system has none. Then the new list takes the new name
  // first and the two files swap names in one step.
  if (link_errno != EPERM) {
    return false;
  }
#ifdef RENAME_EXCHANGE
  const std::string link_error = result.error;
  aside = MakeKeptName(
      target, now, "rename " + temp + " to",
      [&](const std::string & name) {
        int error_number = 0;
        return RenameNoReplace(temp, name, error_number) ? 0 : error_number;
      },
      link_errno, result.error);
  if (aside.empty()) {
    result.error = link_error + "; " + result.error;
    return false;
  }
  (void)SyncFolder(folder, ignored);
  if (::renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0) {
    result.error = link_error + "; " + Reason("exchange " + aside + " and " + target, errno);
    ::unlink(aside.c_str());  // the new list, still
    return false;
  }
  result.kept_as = aside;
  return true;
#else
  return false;
#endif
}

// SaveStationFile, and with `keep_at` SaveStationFileKeepingOld.
SaveResult Save(const std::string & path, const BaseStationInfo & info, const std::time_t * keep_at) {
  SaveResult result;
  std::vector<uint8_t> bytes;
  if (!SerializeToBytes(info, bytes)) {
    result.error = "the station list cannot be encoded";
    return result;
  }
  std::string target;
  if (!ResolveLinks(path, target, result.error)) {
    return result;
  }

  struct stat old_file;
  bool exists = ::lstat(target.c_str(), &old_file) == 0;
  // A link is followed only to a regular file, or to where one is to be
  // made. Renaming onto a device, FIFO or folder that a link points at would
  // replace something that is not the node's (a link to /dev/zero, run as
  // root): then the link itself is replaced, as a plain file would be.
  if (exists && !S_ISREG(old_file.st_mode) && target != path) {
    target = path;
    exists = ::lstat(target.c_str(), &old_file) == 0;
  }
  const bool keep = keep_at != nullptr && exists && S_ISREG(old_file.st_mode);
  if (keep) {
    result.kept = target;
  }
  // Replacing one name of several would leave the others on the old list.
  if (!keep && exists && S_ISREG(old_file.st_mode) && old_file.st_nlink > 1) {
    result.in_place = target + " has " + std::to_string(old_file.st_nlink) + " hard links";
    if (SaveInPlace(target, bytes, result.error)) {
      result.status = SaveStatus::kSaved;
    }
    return result;
  }

  // One writer per process: the pid keeps two processes sharing a working
  // folder apart. Whatever is left under the name (a crash's file, or a FIFO,
  // whose opening would wait for a reader) is removed and the file created
  // afresh; a folder there makes the open fail.
  const std::string temp = target + kTemporarySuffix + std::to_string(::getpid());
  (void)::unlink(temp.c_str());
  const int fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    const int open_errno = errno;
    result.error = Reason("open " + temp, open_errno);
    if (!keep && FolderRefusesNewFiles(open_errno)) {
      FallBackToInPlace("no temporary file can be made beside " + target + " (" + result.error + ")", target,
                        bytes, result);
    }
    return result;
  }
  // Keep the permissions and owner of the file being replaced; best effort
  // (only root may give a file away). Not those of a file kept for being
  // unreadable: the new list would be so too.
  if (!keep && exists && S_ISREG(old_file.st_mode)) {
    (void)::fchmod(fd, old_file.st_mode & 07777);
    if (old_file.st_uid != ::geteuid() || old_file.st_gid != ::getegid()) {
      // Tested, not cast to void: with _FORTIFY_SOURCE (distributions'
      // package builds, Ubuntu's compiler by default) fchown is
      // warn_unused_result, which a cast does not silence.
      if (::fchown(fd, old_file.st_uid, old_file.st_gid) != 0) {
        // best effort, as above
      }
    }
  }

  bool ok = WriteAll(fd, bytes, temp, result.error);
  if (ok && ::fsync(fd) != 0) {
    result.error = Reason("fsync " + temp, errno);
    ok = false;
  }
  // After a successful fsync only EIO here would mean lost data; EINTR still
  // closes the descriptor on Linux.
  if (::close(fd) != 0 && errno != EINTR && ok) {
    result.error = Reason("close " + temp, errno);
    ok = false;
  }
  int rename_errno = 0;
  if (ok && keep) {
    ok = CommitKeepingOld(target, temp, *keep_at, result);
  } else if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    rename_errno = errno;
    result.error = Reason("rename " + temp + " to " + target, rename_errno);
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    // A file mounted over the name (a container's bind mount, say) cannot be
    // replaced, only written.
    if (rename_errno == EBUSY) {
      FallBackToInPlace(target + " cannot be replaced (" + result.error + ")", target, bytes, result);
    }
    return result;
  }

  // The rename is the commit point: from here on the new list is the stored
  // one, whatever the folder flush says.
  result.status = SyncFolder(FolderOf(target), result.error) ? SaveStatus::kSaved : SaveStatus::kNotDurable;
  return result;
}

}  // namespace

SaveResult SaveStationFile(const std::string & path, const BaseStationInfo & info) {
  return Save(path, info, nullptr);
}

SaveResult SaveStationFileKeepingOld(const std::string & path, const BaseStationInfo & info,
                                     std::time_t now) {
  return Save(path, info, &now);
}

std::vector<std::string> FilesKeptBeside(const std::string & path) {
  std::vector<std::string> kept;
  std::string target;
  std::string ignored;
  if (!ResolveLinks(path, target, ignored)) {
    return kept;
  }
  const boost::filesystem::path file(target);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
  const std::string prefix = file.filename().string() + kKeptSuffix;
  DIR * dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    return kept;
  }
  while (const dirent * entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
      kept.push_back(file.has_parent_path() ? (folder + '/').append(name) : name);
    }
  }
  ::closedir(dir);
  // The UTC stamps sort as text; ".1" after the name without it.
  std::sort(kept.begin(), kept.end());
  return kept;
}

int RemoveStaleTemporaryFiles(const std::string & path) {
  std::string target;
  std::string ignored;
  if (!ResolveLinks(path, target, ignored)) {
    return 0;
  }
  const boost::filesystem::path file(target);
  const std::string folder = file.has_parent_path() ? file.parent_path().string() : ".";
  const std::string prefix = file.filename().string() + kTemporarySuffix;
  DIR * dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    return 0;
  }
  int removed = 0;
  while (const dirent * entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    const std::string pid_text = name.substr(prefix.size());
    if (pid_text.find_first_not_of("0123456789") != std::string::npos || pid_text.size() > 9) {
      continue;  // not a name this code makes
    }
    const pid_t pid = static_cast<pid_t>(std::stol(pid_text));
    // Our own name, or a process that is still running (kill() answers
    // anything but "no such process"), may be mid-save.
    if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) {
      continue;
    }
    if (::unlink((folder + '/').append(name).c_str()) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

}  // namespace data_center
