// SPDX-License-Identifier: Apache-2.0
// QueryHandler::HandleQuery with arbitrary requests: the first four bytes of
// the input are the command number (host byte order), the rest the payload.
// Every input starts from an empty private working folder. Where the node
// ignores the payload it is used to shape the files the command reads
// instead: the map history for 1002, a pre-existing station file for 10002.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <google/protobuf/stubs/logging.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "codec.hpp"
#include "fuzz_check.hpp"
#include "logger.hpp"
#include "proto/data_center.pb.h"
#include "query_handler.hpp"
#include "test_support.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;     // private temp folder, removed at exit
std::string g_history;  // the map history file the handler reads
std::string g_blocker;  // the station file's temporary name in this process

const char kStationFile[] = "StationInfo.conf";

using data_center::test::Answer;

// HandleQuery as the unit tests call it, which must let no exception out.
Answer Send(data_center::QueryHandler & handler, int32_t cmd_id, const Bytes & payload) {
  Answer answer{};
  try {
    answer = data_center::test::Send(handler, cmd_id, std::string(payload.begin(), payload.end()));
  } catch (const std::exception & e) {
    FUZZ_CHECK(false, "HandleQuery(%d) let out an exception: %s", cmd_id, e.what());
  } catch (...) {
    FUZZ_CHECK(false, "HandleQuery(%d) let out an exception of unknown type", cmd_id);
  }
  // The boolean result only ever says whether the code is 0.
  FUZZ_CHECK(answer.result == (answer.code == data_center::kCodeOk), "cmd %d: result %d with code %d", cmd_id,
             answer.result, answer.code);
  return answer;
}

Bytes PayloadOf(const Answer & answer) {
  return Bytes(answer.payload.begin(), answer.payload.end());
}

bool ReadFile(const std::string & path, Bytes & content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void WriteFile(const std::string & path, const Bytes & content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
  FUZZ_CHECK(out.good(), "cannot write %s", path.c_str());
}

bool Exists(const std::string & path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A file or an empty folder.
void RemoveEntry(const std::string & path) {
  if (::unlink(path.c_str()) != 0) {
    ::rmdir(path.c_str());
  }
}

// Files the node moved aside: the station file's name, then this.
const char kAsidePrefix[] = "StationInfo.conf.unreadable-";

std::vector<std::string> AsideFiles() {
  std::vector<std::string> names;
  if (DIR * dir = ::opendir(".")) {
    while (const dirent * entry = ::readdir(dir)) {
      if (std::strncmp(entry->d_name, kAsidePrefix, sizeof kAsidePrefix - 1) == 0) {
        names.emplace_back(entry->d_name);
      }
    }
    ::closedir(dir);
  }
  return names;
}

// The working folder as the previous input left it is of no interest.
void ResetFolder() {
  RemoveEntry(kStationFile);
  RemoveEntry(g_blocker);
  RemoveEntry(g_history);
  for (const std::string & name : AsideFiles()) {
    RemoveEntry(name);
  }
}

// What `stream >> word` reads in the "C" locale: the first run of characters
// that are not blanks.
std::string FirstWord(const Bytes & text) {
  auto blank = [](uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  size_t begin = 0;
  while (begin < text.size() && blank(text[begin])) {
    ++begin;
  }
  size_t end = begin;
  while (end < text.size() && !blank(text[end])) {
    ++end;
  }
  return std::string(text.begin() + static_cast<std::ptrdiff_t>(begin),
                     text.begin() + static_cast<std::ptrdiff_t>(end));
}

// The station list a payload carries, or false when the node must refuse it.
bool DecodeStations(const Bytes & payload, data_center::BaseStationInfo & info) {
  const auto limit = static_cast<std::size_t>(data_center::kMaxStationListBytes);
  return !payload.empty() && payload.size() <= limit &&
         info.ParseFromArray(payload.data(), static_cast<int>(payload.size())) &&
         info.ByteSizeLong() <= limit;
}

Bytes Encode(const google::protobuf::MessageLite & message) {
  const std::string text = message.SerializeAsString();
  return Bytes(text.begin(), text.end());
}

// A station list as the node stores and answers it: -0.0 as +0.0, which
// every protobuf version encodes alike.
Bytes EncodeStations(data_center::BaseStationInfo list) {
  data_center::MakeZerosPositive(list);
  return Encode(list);
}

void ExpectStationAnswer(data_center::QueryHandler & handler, const Bytes & expected, const char * when) {
  const Answer answer = Send(handler, 10002, {});
  FUZZ_CHECK(answer.code == data_center::kCodeOk && answer.msg.empty(), "%s: 10002 answered %d '%s'", when,
             answer.code, answer.msg.c_str());
  FUZZ_CHECK(PayloadOf(answer) == expected, "%s: 10002 answered %zu bytes, expected %zu", when,
             answer.payload.size(), expected.size());
}

void LastMap(const Bytes & history) {
  if (!history.empty()) {
    WriteFile(g_history, history);
  }
  data_center::QueryHandler handler(g_history);
  const Answer answer = Send(handler, 1002, history);
  data_center::MapInfo expected;
  expected.set_map_id_str(FirstWord(history));
  FUZZ_CHECK(answer.code == data_center::kCodeOk && answer.msg.empty(), "1002 answered %d '%s'", answer.code,
             answer.msg.c_str());
  FUZZ_CHECK(PayloadOf(answer) == Encode(expected),
             "1002 answered a map id other than the file's first word");
}

void IssueStations(const Bytes & payload) {
  data_center::QueryHandler handler(g_history);
  data_center::BaseStationInfo sent;
  const bool valid = DecodeStations(payload, sent);

  // First with the temporary file's name taken, so the list cannot be saved.
  FUZZ_CHECK(::mkdir(g_blocker.c_str(), 0700) == 0, "mkdir %s: %s", g_blocker.c_str(), std::strerror(errno));
  Answer answer = Send(handler, 10001, payload);
  ::rmdir(g_blocker.c_str());
  if (valid) {
    FUZZ_CHECK(answer.code == data_center::kCodeSaveFailed && answer.msg == "Save station info failed",
               "unsavable 10001 answered %d '%s'", answer.code, answer.msg.c_str());
  } else {
    FUZZ_CHECK(answer.code == data_center::kCodeDeserializeFailed && answer.msg == "Deserialize data failed",
               "undecodable 10001 answered %d '%s'", answer.code, answer.msg.c_str());
  }
  FUZZ_CHECK(answer.payload.empty(), "refused 10001 answered a payload");
  FUZZ_CHECK(!Exists(kStationFile), "refused 10001 left a station file");
  ExpectStationAnswer(handler, {}, "after a refused 10001");

  // Then for real.
  answer = Send(handler, 10001, payload);
  FUZZ_CHECK(answer.payload.empty(), "10001 answered a payload");
  if (!valid) {
    FUZZ_CHECK(answer.code == data_center::kCodeDeserializeFailed, "undecodable 10001 answered %d",
               answer.code);
    FUZZ_CHECK(!Exists(kStationFile), "undecodable 10001 wrote a station file");
    return;
  }
  FUZZ_CHECK(answer.code == data_center::kCodeOk && answer.msg.empty(), "10001 answered %d '%s'", answer.code,
             answer.msg.c_str());
  Bytes stored;
  FUZZ_CHECK(ReadFile(kStationFile, stored), "accepted 10001 left no station file");
  FUZZ_CHECK(stored == EncodeStations(sent), "the station file is not the list sent");
  FUZZ_CHECK(!Exists(g_blocker), "the temporary station file was left behind");
  ExpectStationAnswer(handler, stored, "after 10001");

  // A restarted node answers the same list from the file.
  data_center::QueryHandler restarted(g_history);
  ExpectStationAnswer(restarted, stored, "after a restart");
}

void QueryStations(const Bytes & file) {
  if (!file.empty()) {
    WriteFile(kStationFile, file);
  }
  data_center::QueryHandler handler(g_history);
  data_center::BaseStationInfo expected;
  const bool loads = file.empty() || expected.ParseFromArray(file.data(), static_cast<int>(file.size()));
  if (!loads) {
    expected.Clear();  // an unreadable file gives an empty list
  }
  ExpectStationAnswer(handler, EncodeStations(expected), "with a station file from the input");
  Bytes after;
  FUZZ_CHECK(file.empty() ? !Exists(kStationFile) : ReadFile(kStationFile, after) && after == file,
             "reading the station file changed it");
  if (loads) {
    return;
  }
  // A file that did not load outlives the next list, under another name,
  // and stays at its own while no list can be saved.
  data_center::BaseStationInfo list;
  list.add_bs_pose()->set_map_id(1);
  FUZZ_CHECK(::mkdir(g_blocker.c_str(), 0700) == 0, "mkdir %s: %s", g_blocker.c_str(), std::strerror(errno));
  const Answer refused = Send(handler, 10001, Encode(list));
  ::rmdir(g_blocker.c_str());
  FUZZ_CHECK(refused.code == data_center::kCodeSaveFailed,
             "unsavable 10001 over an unreadable file answered %d", refused.code);
  FUZZ_CHECK(ReadFile(kStationFile, after) && after == file && AsideFiles().empty(),
             "an unsavable 10001 moved the unreadable file");
  const Answer answer = Send(handler, 10001, Encode(list));
  FUZZ_CHECK(answer.code == data_center::kCodeOk, "10001 over an unreadable file answered %d '%s'",
             answer.code, answer.msg.c_str());
  const std::vector<std::string> aside = AsideFiles();
  FUZZ_CHECK(aside.size() == 1, "%zu files set aside, expected 1", aside.size());
  FUZZ_CHECK(ReadFile(aside[0], after) && after == file, "the file set aside is not the unreadable one");
  FUZZ_CHECK(ReadFile(kStationFile, after) && after == Encode(list), "the station file is not the list sent");
}

void RobotInfo(const Bytes & payload) {
  data_center::QueryHandler handler(g_history);
  const Answer with_payload = Send(handler, 10003, payload);
  const Answer without = Send(handler, 10003, {});
  FUZZ_CHECK(with_payload.code == data_center::kCodeOk && with_payload.msg.empty(), "10003 answered %d '%s'",
             with_payload.code, with_payload.msg.c_str());
  FUZZ_CHECK(with_payload.payload == without.payload, "10003 answer depends on the payload");
  data_center::RobotInfoResp info;
  FUZZ_CHECK(
      info.ParseFromArray(with_payload.payload.data(), static_cast<int>(with_payload.payload.size())) &&
          info.has_job_info(),
      "10003 answer is not a RobotInfoResp with job_info");
}

void Unknown(int32_t cmd_id, const Bytes & payload) {
  data_center::QueryHandler handler(g_history);
  const Answer answer = Send(handler, cmd_id, payload);
  FUZZ_CHECK(answer.code == data_center::kCodeNotSupported && answer.msg.empty() && answer.payload.empty(),
             "unknown command %d answered %d '%s' with %zu bytes", cmd_id, answer.code, answer.msg.c_str(),
             answer.payload.size());
  FUZZ_CHECK(!Exists(kStationFile), "unknown command %d wrote a station file", cmd_id);
}

void RemoveRoot() {
  const std::string command = "rm -rf '" + g_root + "'";
  if (std::system(command.c_str()) != 0) {
    // best effort
  }
}

void IgnoreProtobufLog(google::protobuf::LogLevel, const char *, int, const std::string &) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char * base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dc_fuzz_qh_XXXXXX";
  FUZZ_CHECK(::mkdtemp(&pattern[0]) != nullptr, "mkdtemp %s: %s", pattern.c_str(), std::strerror(errno));
  g_root = pattern;
  std::atexit(RemoveRoot);
  const std::string work = g_root + "/work";
  FUZZ_CHECK(::mkdir(work.c_str(), 0700) == 0 && ::chdir(work.c_str()) == 0, "cannot enter %s", work.c_str());
  g_history = g_root + "/history.map";
  g_blocker = std::string(kStationFile) + ".tmp." + std::to_string(::getpid());

  // Every log call still formats its record; the records just go nowhere.
  auto logger =
      std::make_shared<spdlog::logger>("data_center", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger->set_level(spdlog::level::debug);
  data_center::GetLogger() = logger;
  google::protobuf::SetLogHandler(IgnoreProtobufLog);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size) {
  if (size < sizeof(int32_t)) {
    return -1;  // no command number: keep it out of the corpus
  }
  int32_t cmd_id;
  std::memcpy(&cmd_id, data, sizeof(cmd_id));
  const Bytes payload(data + sizeof(cmd_id), data + size);
  ResetFolder();
  switch (cmd_id) {
    case 1002:
      LastMap(payload);
      break;
    case 10001:
      IssueStations(payload);
      break;
    case 10002:
      QueryStations(payload);
      break;
    case 10003:
      RobotInfo(payload);
      break;
    default:
      Unknown(cmd_id, payload);
      break;
  }
  return 0;
}
