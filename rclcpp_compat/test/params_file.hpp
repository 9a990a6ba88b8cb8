// SPDX-License-Identifier: Apache-2.0
// A params file in the test's temporary folder, removed with the object.
#ifndef RCLCPP_COMPAT__TEST__PARAMS_FILE_HPP_
#define RCLCPP_COMPAT__TEST__PARAMS_FILE_HPP_

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace compat_test {

class ParamsFile {
 public:
  ParamsFile(const std::string & name, const std::string & text) : path_(testing::TempDir() + name) {
    std::ofstream(path_) << text;
  }
  ~ParamsFile() { std::remove(path_.c_str()); }
  ParamsFile(const ParamsFile &) = delete;
  ParamsFile & operator=(const ParamsFile &) = delete;
  const std::string & path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace compat_test

#endif  // RCLCPP_COMPAT__TEST__PARAMS_FILE_HPP_
