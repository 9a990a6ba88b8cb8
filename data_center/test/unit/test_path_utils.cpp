// SPDX-License-Identifier: Apache-2.0
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "path_utils.hpp"
#include "test_support.hpp"

namespace data_center {
namespace {

TEST(TrimChar, RemovesOnlyOuterRunsOfTheCharacter) {
  EXPECT_EQ(TrimChar("", ' '), "");
  EXPECT_EQ(TrimChar("    ", ' '), "");
  EXPECT_EQ(TrimChar("  a b  ", ' '), "a b");
  EXPECT_EQ(TrimChar("xxaxx", 'x'), "a");
  EXPECT_EQ(TrimChar("\ta ", ' '), "\ta");
}

class ExpandUserPathTest : public testing::Test {
 protected:
  void SetUp() override {
    const char * home = std::getenv("HOME");
    had_home_ = home != nullptr;
    if (had_home_) {
      home_ = home;
    }
    ::setenv("HOME", "/home/robot", 1);
  }
  void TearDown() override {
    if (had_home_) {
      ::setenv("HOME", home_.c_str(), 1);
    } else {
      ::unsetenv("HOME");
    }
  }

 private:
  bool had_home_ = false;
  std::string home_;
};

TEST_F(ExpandUserPathTest, TrimsSpacesAndExpandsALeadingTilde) {
  EXPECT_EQ(ExpandUserPath("  /opt/a.map "), "/opt/a.map");
  EXPECT_EQ(ExpandUserPath("   "), "");
  EXPECT_EQ(ExpandUserPath("\t/opt/a.map\n"), "\t/opt/a.map\n");
  EXPECT_EQ(ExpandUserPath(" ~/maps/x"), "/home/robot/maps/x");
  EXPECT_EQ(ExpandUserPath("~bob/maps"), "/home/robotbob/maps");
  EXPECT_EQ(ExpandUserPath("/a/~/b"), "/a/~/b");
}

TEST_F(ExpandUserPathTest, KeepsTheTildeWithoutHome) {
  ::unsetenv("HOME");
  EXPECT_EQ(ExpandUserPath("~/maps/x"), "~/maps/x");
}

TEST(PathExists, TellsAbsenceFromFailure) {
  test::TempDir dir;
  test::WriteFile(dir / "file", "x");
  boost::filesystem::create_symlink(dir / "file", dir / "link");
  boost::filesystem::create_symlink(dir / "gone", dir / "dangling");
  boost::filesystem::create_symlink(dir / "loop_b", dir / "loop_a");
  boost::filesystem::create_symlink(dir / "loop_a", dir / "loop_b");

  struct Case {
    std::string path;
    bool exists;
  };
  for (const Case & c :
       {Case{dir / "file", true}, Case{dir.path(), true}, Case{dir / "link", true},
        Case{dir / "missing", false}, Case{dir / "dangling", false}, Case{dir / "file/under", false}}) {
    boost::system::error_code error;
    EXPECT_EQ(PathExists(c.path, error), c.exists) << c.path;
    EXPECT_FALSE(error) << c.path;
    EXPECT_EQ(PathExists(c.path), c.exists) << c.path;
  }

  // A symbolic link loop stands for any failure of the test itself, which
  // search permissions cannot produce for root.
  boost::system::error_code error;
  EXPECT_FALSE(PathExists(dir / "loop_a/x", error));
  EXPECT_TRUE(error);
  EXPECT_THROW(PathExists(dir / "loop_a/x"), boost::filesystem::filesystem_error);
}

}  // namespace
}  // namespace data_center
