// SPDX-License-Identifier: Apache-2.0
#include "files.hpp"

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace e2e {

std::string ReadFile(const std::string & path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string & path, const std::string & content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<std::string> Lines(const std::string & text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Words(const std::string & text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

std::vector<std::string> ListFiles(const std::string & dir, const std::string & prefix) {
  std::vector<std::string> names;
  if (DIR * d = opendir(dir.c_str())) {
    while (dirent * e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name.compare(0, prefix.size(), prefix) == 0) {
        names.push_back(name);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  const char * base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/data_center_e2e_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  // Best effort: a test that failed may leave a folder a node still holds.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace e2e
