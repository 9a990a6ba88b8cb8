// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the unit tests: a temporary folder, a working-folder
// switch, a logger that records lines in memory, and file access.
#ifndef DATA_CENTER__TEST__UNIT__TEST_SUPPORT_HPP_
#define DATA_CENTER__TEST__UNIT__TEST_SUPPORT_HPP_

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>
#include <boost/filesystem.hpp>

#include "logger.hpp"
#include "query_handler.hpp"

namespace data_center {
namespace test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (boost::filesystem::temp_directory_path() / "dc_unit_XXXXXX").string();
    if (::mkdtemp(&pattern[0]) == nullptr) {
      std::abort();
    }
    path_ = pattern;
  }
  ~TempDir() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(path_, ignored);
  }
  const std::string & path() const { return path_; }
  std::string operator/(const std::string & name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs in `folder` and returns to the previous working folder afterwards.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string & folder) : previous_(boost::filesystem::current_path()) {
    boost::filesystem::current_path(folder);
  }
  ~ScopedCwd() { boost::filesystem::current_path(previous_); }

 private:
  boost::filesystem::path previous_;
};

// Puts a logger writing "level|function|file:line|text" lines into memory in
// the process-wide handle, and puts the old handle back afterwards.
class CapturedLog {
 public:
  CapturedLog() : previous_(GetLogger()) {
    auto logger = std::make_shared<spdlog::logger>("captured",
                                                   std::make_shared<spdlog::sinks::ostream_sink_mt>(stream_));
    logger->set_pattern("%l|%!|%@|%v");
    logger->set_level(spdlog::level::debug);
    GetLogger() = logger;
  }
  ~CapturedLog() { GetLogger() = previous_; }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(stream_.str());
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
    }
    return lines;
  }
  // The lines without their file:line field, which moves with every edit.
  std::vector<std::string> Records() const {
    std::vector<std::string> records;
    for (const std::string & line : Lines()) {
      const auto second = line.find('|', line.find('|') + 1);
      const auto third = line.find('|', second + 1);
      records.push_back(line.substr(0, second) + line.substr(third));
    }
    return records;
  }

 private:
  std::ostringstream stream_;
  std::shared_ptr<spdlog::logger> previous_;
};

inline std::string ReadFile(const std::string & path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string & path, const std::string & content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string AsString(const std::vector<uint8_t> & bytes) {
  return std::string(bytes.begin(), bytes.end());
}

inline std::shared_ptr<QueryHandler::Request> MakeRequest(int32_t cmd_id, const std::string & payload = "") {
  auto request = std::make_shared<QueryHandler::Request>();
  request->cmd_id = cmd_id;
  request->biz_data.assign(payload.begin(), payload.end());
  return request;
}

struct Answer {
  bool result;
  int32_t code;
  std::string msg;
  std::string payload;
};

// Sends one request; the response starts as the middleware makes it.
inline Answer Send(QueryHandler & handler, int32_t cmd_id, const std::string & payload = "") {
  auto response = std::make_shared<QueryHandler::Response>();
  const bool result = handler.HandleQuery(MakeRequest(cmd_id, payload), response);
  return Answer{result, response->code, response->msg, AsString(response->biz_data)};
}

}  // namespace test
}  // namespace data_center

#endif  // DATA_CENTER__TEST__UNIT__TEST_SUPPORT_HPP_
