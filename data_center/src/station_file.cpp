#include "station_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <boost/filesystem/path.hpp>

#include "codec.hpp"

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

}  // namespace

StationFileStatus LoadStationFile(const std::string & path, BaseStationInfo & info, std::string & error) {
  info.Clear();
  // Non-blocking, so that a FIFO under the name does not wait for a writer;
  // the flag means nothing for the regular file read below.
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      return StationFileStatus::kMissing;
    }
    error = Reason("open", errno);
    return StationFileStatus::kFailed;
  }
  // A folder, FIFO or device is no station file (a device may never end).
  struct stat file;
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
    error = "not a regular file";
    ::close(fd);
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

bool SaveStationFile(const std::string & path, const BaseStationInfo & info, std::string & error) {
  std::vector<uint8_t> bytes;
  if (!SerializeToBytes(info, bytes)) {
    error = "the station list cannot be encoded";
    return false;
  }

  // One writer per process: the pid keeps two processes sharing a working
  // folder apart. Whatever is left under the name (a crash's file, or a FIFO,
  // whose opening would wait for a reader) is removed and the file created
  // afresh; a folder there makes the open fail.
  const std::string temp = path + kTemporarySuffix + std::to_string(::getpid());
  (void)::unlink(temp.c_str());
  const int fd = OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    error = Reason("open " + temp, errno);
    return false;
  }
  // Keep the permissions of the file being replaced; best effort.
  struct stat old_file;
  if (::stat(path.c_str(), &old_file) == 0 && S_ISREG(old_file.st_mode)) {
    (void)::fchmod(fd, old_file.st_mode & 07777);
  }

  bool ok = WriteAll(fd, bytes, temp, error);
  if (ok && ::fsync(fd) != 0) {
    error = Reason("fsync " + temp, errno);
    ok = false;
  }
  // After a successful fsync only EIO here would mean lost data; EINTR still
  // closes the descriptor on Linux.
  if (::close(fd) != 0 && errno != EINTR && ok) {
    error = Reason("close " + temp, errno);
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    error = Reason("rename " + temp + " to " + path, errno);
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }

  std::string folder = boost::filesystem::path(path).parent_path().string();
  if (folder.empty()) {
    folder = ".";
  }
  return SyncFolder(folder, error);
}

int RemoveStaleTemporaryFiles(const std::string & path) {
  const boost::filesystem::path file(path);
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
