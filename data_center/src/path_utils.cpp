// SPDX-License-Identifier: Apache-2.0
#include "path_utils.hpp"

#include <cstdlib>

#include <boost/filesystem/operations.hpp>

namespace data_center {

std::string TrimChar(const std::string & text, char c) {
  const std::string::size_type first = text.find_first_not_of(c);
  if (first == std::string::npos) {
    return std::string();
  }
  const std::string::size_type last = text.find_last_not_of(c);
  return text.substr(first, last - first + 1);
}

std::string ExpandUserPath(const std::string & path) {
  std::string trimmed = TrimChar(path, ' ');
  if (trimmed.empty() || trimmed[0] != '~') {
    return trimmed;
  }
  const char * home = std::getenv("HOME");
  if (home == nullptr) {
    return trimmed;
  }
  return std::string(home) + trimmed.substr(1);
}

bool PathExists(const std::string & path) {
  return boost::filesystem::exists(path);
}

bool PathExists(const std::string & path, boost::system::error_code & error) {
  const boost::filesystem::file_status status = boost::filesystem::status(path, error);
  if (status.type() == boost::filesystem::status_error) {
    return false;
  }
  // A missing entry may leave its errno in `error`; that is an answer, not a
  // failure of the test.
  error.clear();
  return boost::filesystem::exists(status);
}

}  // namespace data_center
