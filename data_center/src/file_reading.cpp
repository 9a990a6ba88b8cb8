// SPDX-License-Identifier: Apache-2.0
#include "file_reading.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace data_center {
namespace {

// The white space of the classic locale, which stream extraction uses.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

OpenStatus OpenRegularFile(const std::string & path, int & fd, int & error_number) {
  error_number = 0;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error_number = errno;
    return error_number == ENOENT ? OpenStatus::kMissing : OpenStatus::kFailed;
  }
  struct stat file;
  if (::fstat(fd, &file) != 0) {
    error_number = errno;
    ::close(fd);
    fd = -1;
    return OpenStatus::kFailed;
  }
  if (!S_ISREG(file.st_mode)) {
    ::close(fd);
    fd = -1;
    return OpenStatus::kNotRegular;
  }
  return OpenStatus::kOpened;
}

bool ReadFirstToken(int fd, std::string & token, int & error_number) {
  token.clear();
  error_number = 0;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      // Half a token would be a wrong answer.
      error_number = errno;
      token.clear();
      return false;
    }
    if (got == 0) {
      return true;
    }
    for (ssize_t i = 0; i < got; ++i) {
      if (!IsSpace(buffer[i])) {
        token.push_back(buffer[i]);
      } else if (!token.empty()) {
        return true;
      }
    }
  }
}

}  // namespace data_center
