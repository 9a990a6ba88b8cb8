// SPDX-License-Identifier: Apache-2.0
// Files of the whole-system tests: a temporary folder, whole-file reads and
// writes, lines and folder listings.
#ifndef DATA_CENTER_TEST__SUPPORT__FILES_HPP_
#define DATA_CENTER_TEST__SUPPORT__FILES_HPP_

#include <string>
#include <vector>

namespace e2e {

std::string ReadFile(const std::string & path);
void WriteFile(const std::string & path, const std::string & content);
std::vector<std::string> Lines(const std::string & text);
// The blank-separated words of `text`.
std::vector<std::string> Words(const std::string & text);
// Files of a folder whose names start with `prefix`, sorted.
std::vector<std::string> ListFiles(const std::string & dir, const std::string & prefix = "");

// A fresh folder under the system temp folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir & operator=(const TempDir &) = delete;
  const std::string & path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__FILES_HPP_
