// SPDX-License-Identifier: Apache-2.0
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "logger.hpp"
#include "query_handler.hpp"
#include "test_support.hpp"

namespace data_center {
namespace {

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return date;
}

// One line as the node writes it, for the given name, level and text.
std::string LinePattern(const std::string & name, const std::string & level, const std::string & text) {
  return R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[thread )" +
         std::to_string(::syscall(SYS_gettid)) + R"(\] \[)" + name + R"(\] \[)" + level +
         R"(\] \[\./src/query_handler\.cpp:\d+\] )" + text + "\n";
}

// Each test starts and ends with an empty handle and no registered loggers.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override { GetLogger().reset(); }
  void TearDown() override {
    GetLogger().reset();
    spdlog::drop_all();
  }

  test::TempDir dir_;
};

TEST_F(LoggerTest, WritesTheDaysFileInTheLineFormat) {
  const std::string base = dir_ / "logs/data_center/data_center_log_file";
  const std::string day = Today();
  InitLogger(GetLogger(), base, 1, "data_center");
  ASSERT_TRUE(GetLogger());
  EXPECT_EQ(GetLogger()->name(), "data_center");

  std::string file = base + "_" + day;
  if (!boost::filesystem::exists(file)) {  // midnight passed just now
    file = base + "_" + Today();
  }
  ASSERT_TRUE(boost::filesystem::exists(file)) << "the day's file is made at start";
  EXPECT_EQ(test::ReadFile(file), "");

  test::ScopedCwd cwd(dir_.path());
  QueryHandler handler(dir_ / "history.map");
  test::Send(handler, -7);
  test::Send(handler, 10002);
  // No flush in between: every record is flushed as it is written.
  const std::regex expected(
      LinePattern("data_center", "error", R"(current query cmd id:\(-7\) is not support)") +
      LinePattern("data_center", "debug", "Into QueryBaseStation"));
  EXPECT_TRUE(std::regex_match(test::ReadFile(file), expected)) << test::ReadFile(file);
}

TEST_F(LoggerTest, EmptyNameBecomesUnknow) {
  std::shared_ptr<spdlog::logger> handle;
  InitLogger(handle, dir_ / "log", 1, "");
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->name(), "unknow");
  EXPECT_EQ(spdlog::get("unknow"), handle);
}

TEST_F(LoggerTest, UncreatableFolderIsReportedOnStandardOutput) {
  test::WriteFile(dir_ / "plain_file", "");
  const std::string base = dir_ / "plain_file/logs/data_center_log_file";
  testing::internal::CaptureStdout();
  InitLogger(GetLogger(), base, 1, "data_center");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(GetLogger());
  EXPECT_FALSE(spdlog::get("data_center"));
  const std::regex expected(R"(log initialization failed\[Failed opening file )" + base +
                            R"(_\d{4}-\d{2}-\d{2} for writing: Not a directory\]\n)");
  EXPECT_TRUE(std::regex_match(out, expected)) << out;
}

TEST_F(LoggerTest, SecondLoggerOfTheSameNameIsRefused) {
  InitLogger(GetLogger(), dir_ / "first", 1, "twice");
  const auto first = GetLogger();
  ASSERT_TRUE(first);
  testing::internal::CaptureStdout();
  InitLogger(GetLogger(), dir_ / "second", 1, "twice");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "log initialization failed[logger with name 'twice' already exists]\n");
  EXPECT_EQ(GetLogger(), first);
}

TEST_F(LoggerTest, WithoutAFileRecordsGoToStandardError) {
  test::WriteFile(dir_ / "plain_file", "");
  testing::internal::CaptureStdout();
  InitLogger(GetLogger(), dir_ / "plain_file/log", 1, "data_center");
  testing::internal::GetCapturedStdout();
  ASSERT_FALSE(GetLogger());

  test::ScopedCwd cwd(dir_.path());
  QueryHandler handler(dir_ / "history.map");
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const test::Answer answer = test::Send(handler, -7);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer.code, 10002);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(std::regex_match(
      err, std::regex(LinePattern("data_center", "error", R"(current query cmd id:\(-7\) is not support)"))))
      << err;
}

}  // namespace
}  // namespace data_center
