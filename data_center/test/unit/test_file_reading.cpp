// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "file_reading.hpp"
#include "test_support.hpp"

namespace data_center {
namespace {

TEST(OpenRegularFile, OpensOnlyRegularFilesAndNeverWaits) {
  test::TempDir dir;
  test::WriteFile(dir / "plain", "x");
  boost::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // no writer
  boost::filesystem::create_symlink(dir / "plain", dir / "link");
  boost::filesystem::create_symlink(dir / "loop", dir / "loop");
  struct Case {
    std::string path;
    OpenStatus status;
    int error_number;
  };
  const std::vector<Case> cases = {
      {dir / "plain", OpenStatus::kOpened, 0},         {dir / "link", OpenStatus::kOpened, 0},
      {dir / "missing", OpenStatus::kMissing, ENOENT}, {dir / "folder", OpenStatus::kNotRegular, 0},
      {dir / "fifo", OpenStatus::kNotRegular, 0},      {"/dev/zero", OpenStatus::kNotRegular, 0},
      {dir / "loop", OpenStatus::kFailed, ELOOP},      {dir / "plain/below", OpenStatus::kFailed, ENOTDIR},
  };
  for (const Case & c : cases) {
    int fd = -2;
    int error_number = -1;
    EXPECT_EQ(OpenRegularFile(c.path, fd, error_number), c.status) << c.path;
    EXPECT_EQ(error_number, c.error_number) << c.path;
    if (c.status == OpenStatus::kOpened) {
      EXPECT_GE(fd, 0);
      ::close(fd);
    } else {
      EXPECT_EQ(fd, -1) << c.path;
    }
  }
}

// The token must be what `stream >> std::string` reads, the way the history
// file has always been read.
TEST(ReadFirstToken, ReadsWhatStreamExtractionReads) {
  test::TempDir dir;
  const std::string long_token(10000, 'm');  // longer than any one read
  const std::vector<std::string> contents = {
      "map_17",
      "  map_17\nsecond line",
      "\t\r\n\v\f 42 43",
      "",
      " \n\t \n",
      "\xFF\xFE tail",
      std::string(5000, ' ') + "after_a_long_gap ",
      long_token + "\nnext",
  };
  for (const std::string & content : contents) {
    test::WriteFile(dir / "history", content);
    std::istringstream stream(content);
    std::string expected;
    stream >> expected;
    int fd = -1;
    int error_number = 0;
    ASSERT_EQ(OpenRegularFile(dir / "history", fd, error_number), OpenStatus::kOpened);
    std::string token = "stale";
    EXPECT_TRUE(ReadFirstToken(fd, token, error_number));
    ::close(fd);
    EXPECT_EQ(token, expected) << content.substr(0, 40);
  }
}

}  // namespace
}  // namespace data_center
