// SPDX-License-Identifier: Apache-2.0
// The node in hostile surroundings: a log it cannot open or fill, a map
// history that is not a file, a damaged station file, a working folder that
// refuses writes, and a foreign writer on its request topic. In every case
// the node must keep running and answer every request.
//
// The node runs as root, or as root of a user namespace over the test's own
// files (the mount namespace needs one or the other), and either ignores
// permission bits; where a case is about permissions the test makes the
// failure otherwise and says how.
#include <dds/dds.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"
#include "proto/data_center.pb.h"
#include "raw_cdr_topic.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using e2e::Caller;

constexpr auto kAnswerLimit = 15s;

std::string MapInfoBytes(const std::string & id) {
  data_center::MapInfo info;
  info.set_map_id_str(id);
  return info.SerializeAsString();
}

// Free blocks for the node's user on the file system holding `path`.
unsigned long long FreeBlocks(const std::string & path) {
  struct statvfs s {};
  if (statvfs(path.c_str(), &s) != 0) {
    return ~0ull;
  }
  return s.f_bavail;
}

// The node answers each command as it must, whatever state it is in: the
// fixed robot info, the station list it holds, an unknown command refused.
void ExpectServing(Caller & caller, e2e::NodeProcess & node, const std::string & stations) {
  const auto info = caller.CallUntilAnswered(10003, "", kAnswerLimit);
  ASSERT_TRUE(info.has_value()) << "no answer to 10003\n" << node.Stderr();
  EXPECT_EQ(info->code, 0);
  EXPECT_EQ(info->payload, e2e::kRobotInfoBytes);
  const auto list = caller.Call(10002, "", kAnswerLimit);
  ASSERT_TRUE(list.has_value()) << "no answer to 10002";
  EXPECT_EQ(list->code, 0);
  EXPECT_EQ(list->payload, stations);
  const auto unknown = caller.Call(4242, "", kAnswerLimit);
  ASSERT_TRUE(unknown.has_value()) << "no answer to an unknown command";
  EXPECT_EQ(unknown->code, 10002);
  EXPECT_TRUE(node.Running());
}

void MakeFifo(const std::string & path) {
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
}

// ---- log -----------------------------------------------------------------------

TEST(Hostile, LogThatCannotBeOpenedGoesToStandardError) {
  Caller caller(e2e::TestDomain(0));
  struct Case {
    std::string name;
    std::function<void(const std::string & korvane)> make;
  };
  const std::vector<Case> cases = {
      // As root no permission stops mkdir; a file where a folder must be does.
      {"log folder not creatable",
       [](const std::string & korvane) { e2e::WriteFile(korvane + "/logs", "a file, not a folder"); }},
      // Yesterday's, today's and tomorrow's names, in case the day turns now.
      {"the day's log file name is a folder",
       [](const std::string & korvane) {
         for (int day = -1; day <= 1; ++day) {
           fs::create_directories(korvane + "/logs/data_center/" + e2e::DayLogName(day) + "/inside");
         }
       }},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    e2e::TempDir dir;
    fs::create_directories(dir.path() + "/korvane");
    c.make(dir.path() + "/korvane");
    e2e::NodeProcess node(caller.domain(), dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();
    ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, ""));
    const auto lines = e2e::Lines(node.Stdout());
    ASSERT_EQ(lines.size(), 2u) << node.Stdout();
    EXPECT_EQ(lines[0].rfind("log initialization failed[", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "after advertiseService robot_status_query");
    // The records of the requests went to standard error instead.
    EXPECT_NE(node.Stderr().find("current query cmd id:(4242) is not support"), std::string::npos)
        << node.Stderr();
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }
}

TEST(Hostile, LogOnAFullDiskStillAnswersEveryRequest) {
  Caller caller(e2e::TestDomain(1));
  e2e::TempDir dir;
  e2e::NodeOptions options;
  // A 64 KiB file system over the log folder, filled but for 4 KiB, so that
  // the day's file can be created and then runs out of room.
  options.setup =
      "mkdir -p /opt/korvane/logs/data_center && "
      "mount -t tmpfs -o size=64k tmpfs /opt/korvane/logs/data_center && "
      "{ dd if=/dev/zero of=/opt/korvane/logs/data_center/filler bs=4k count=15 2>/dev/null; true; }";
  e2e::NodeProcess node(caller.domain(), dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();
  const std::string log_dir = node.SeenByNode("/opt/korvane/logs/data_center");
  ASSERT_TRUE(fs::exists(log_dir + "/" + e2e::TodayLogName())) << "the day's file was not created";

  // Every request logs a line or two: far more than the room left.
  const std::string list = e2e::MakeList("full-log", 1, 2);
  const auto set = caller.CallUntilAnswered(10001, list, kAnswerLimit);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(set->code, 0);
  long answered = 0;
  for (int i = 0; i < 300; ++i) {
    const auto reply = caller.Call(i % 2 == 0 ? 10002 : 7000 + i, "", kAnswerLimit);
    ASSERT_TRUE(reply.has_value()) << "request " << i << " was not answered";
    EXPECT_EQ(reply->code, i % 2 == 0 ? 0 : 10002);
    ++answered;
  }
  EXPECT_EQ(FreeBlocks(log_dir), 0u) << "the log file system never filled up";
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, list));
  // spdlog reports failed writes on standard error, at most once a second.
  const auto errors = e2e::Lines(node.Stderr());
  std::cout << "full log disk: " << answered << " requests answered after the disk filled; log file "
            << fs::file_size(log_dir + "/" + e2e::TodayLogName()) << " bytes; node standard error "
            << errors.size() << " lines" << (errors.empty() ? "" : ", first: " + errors.front()) << std::endl;
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// ---- map history -----------------------------------------------------------------

TEST(Hostile, MapHistoryThatIsNoReadableFileIsAnsweredAsEmpty) {
  Caller caller(e2e::TestDomain(2));
  e2e::TempDir dir;
  const std::string map_dir = dir.path() + "/korvane/data/resource/map";
  const std::string history = map_dir + "/history.map";
  fs::create_directories(map_dir);
  e2e::NodeProcess node(caller.domain(), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();

  struct Case {
    std::string name;
    std::function<void()> make;
  };
  const std::vector<Case> cases = {
      {"a folder", [&] { fs::create_directories(history + "/inside"); }},
      // A FIFO without a writer: opening it for reading waits for one.
      {"a FIFO with no writer", [&] { MakeFifo(history); }},
      // A device that never ends and holds no whitespace.
      {"a character device", [&] { fs::create_symlink("/dev/zero", history); }},
      {"a path through a regular file",
       [&] {
         fs::remove_all(map_dir);
         e2e::WriteFile(map_dir, "map_as_a_file");
       }},
      // Root searches any folder, so an unsearchable one cannot be made; a
      // symbolic link loop fails the status test the same way (ELOOP instead
      // of EACCES).
      {"a status that cannot be read", [&] { fs::create_symlink(history, history); }},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(map_dir);
    fs::create_directories(map_dir);
    c.make();
    const auto reply = caller.CallUntilAnswered(1002, "", kAnswerLimit);
    ASSERT_TRUE(reply.has_value()) << "1002 was not answered";
    EXPECT_EQ(reply->code, 0);
    EXPECT_EQ(reply->payload, "");
    ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, ""));
  }
  // And a good file is read again at once.
  fs::remove_all(map_dir);
  fs::create_directories(map_dir);
  e2e::WriteFile(history, "map_back_9\n");
  const auto reply = caller.Call(1002, "", kAnswerLimit);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->payload, MapInfoBytes("map_back_9"));
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// The identifier is read without a length limit, as a string: a single huge
// token is answered whole. Memory and time stay proportional to it and the
// memory is given back.
TEST(Hostile, MapHistoryWithOneHugeTokenIsAnsweredAndTheMemoryReturned) {
  const long megabytes = e2e::EnvLong("DATA_CENTER_STRESS_HUGE_TOKEN_MB", 100);
  Caller caller(e2e::TestDomain(3));
  e2e::TempDir dir;
  const std::string map_dir = dir.path() + "/korvane/data/resource/map";
  fs::create_directories(map_dir);
  const std::string token(static_cast<size_t>(megabytes) << 20, 'm');
  e2e::WriteFile(map_dir + "/history.map", "  " + token + "\nsecond line\n");
  e2e::NodeProcess node(caller.domain(), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, ""));
  const long rss_before = e2e::RssKiB(node.pid());

  const auto start = std::chrono::steady_clock::now();
  const auto reply = caller.Call(1002, "", 180s);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(reply.has_value()) << "no answer within 180 s";
  EXPECT_EQ(reply->code, 0);
  EXPECT_TRUE(reply->payload == MapInfoBytes(token)) << "answer of " << reply->payload.size() << " bytes";
  const long peak = e2e::PeakRssKiB(node.pid());
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, ""));
  const long rss_after = e2e::RssKiB(node.pid());
  std::cout << "huge token: " << megabytes << " MiB answered in " << seconds << " s; node VmRSS before "
            << rss_before << " KiB, peak " << peak << " KiB, after " << rss_after << " KiB" << std::endl;
  // A handful of copies of the token (the string read, the message, the
  // encoded answer, the DDS sample), not more.
  EXPECT_LT(peak - rss_before, 8 * (megabytes << 10));
  EXPECT_LT(rss_after - rss_before, 16 * 1024);
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// ---- station file ------------------------------------------------------------------

TEST(Hostile, DamagedStationFileGivesAnEmptyListAndNothingInTheFolderStopsTheNode) {
  Caller caller(e2e::TestDomain(4));
  const std::string good = e2e::MakeList("good", 3, 2);
  std::string truncated = good.substr(0, good.size() - 5);
  data_center::BaseStationInfo probe;
  ASSERT_FALSE(probe.ParseFromString(truncated)) << "the cut list must not decode";
  const std::string garbage = "this is not an encoded station list\n\xff\xff\xff";
  ASSERT_FALSE(probe.ParseFromString(garbage));

  struct Case {
    std::string name;
    std::function<void(const std::string & file)> make;
    int32_t set_code;  // what a new list then gets
  };
  const std::vector<Case> cases = {
      {"a folder", [](const std::string & f) { fs::create_directories(f + "/inside"); }, 10007},
      // Root reads any file, so an unreadable one cannot be made by
      // permissions; a FIFO without a writer cannot be read either (opening
      // it waits for a writer).
      {"a FIFO with no writer", [](const std::string & f) { MakeFifo(f); }, 0},
      {"a cut list", [&](const std::string & f) { e2e::WriteFile(f, truncated); }, 0},
      {"garbage", [&](const std::string & f) { e2e::WriteFile(f, garbage); }, 0},
      {"a link to a device that never ends",
       [](const std::string & f) { fs::create_symlink("/dev/zero", f); }, 0},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    e2e::TempDir dir;
    fs::create_directories(dir.path() + "/work");
    const std::string file = dir.path() + "/work/StationInfo.conf";
    c.make(file);
    e2e::NodeProcess node(caller.domain(), dir.path());
    ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();
    ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, ""));
    const std::string list = e2e::MakeList("new", 1, 2);
    const auto set = caller.Call(10001, list, kAnswerLimit);
    ASSERT_TRUE(set.has_value()) << "10001 was not answered";
    EXPECT_EQ(set->code, c.set_code);
    ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, c.set_code == 0 ? list : ""));
    if (c.set_code == 0) {
      EXPECT_EQ(e2e::ReadFile(file), list);
    }
    EXPECT_EQ(node.Stop(SIGTERM), 0);
  }

  // The list is written to StationInfo.conf.tmp.<pid> first. Whatever sits
  // under that name (left by another process, or planted) must not stop the
  // node: a FIFO there makes opening it for writing wait for a reader.
  SCOPED_TRACE("the temporary name taken by a FIFO");
  e2e::TempDir dir;
  fs::create_directories(dir.path() + "/work");
  e2e::WriteFile(dir.path() + "/work/StationInfo.conf", good);
  e2e::NodeProcess node(caller.domain(), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, good));
  MakeFifo(node.WorkDir() + "/StationInfo.conf.tmp." + std::to_string(node.pid()));
  const std::string list = e2e::MakeList("new", 2, 3);
  const auto set = caller.Call(10001, list, kAnswerLimit);
  ASSERT_TRUE(set.has_value()) << "10001 was not answered";
  EXPECT_EQ(set->code, 0);
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, list));
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), list);
  EXPECT_EQ(e2e::ListFiles(node.WorkDir()), std::vector<std::string>{"StationInfo.conf"});
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// ---- working folder -----------------------------------------------------------------

TEST(Hostile, ReadOnlyWorkingFolderRefusesNewListsAndKeepsTheOld) {
  Caller caller(e2e::TestDomain(5));
  e2e::TempDir dir;
  const std::string old_list = e2e::MakeList("old", 1, 2);
  fs::create_directories(dir.path() + "/work");
  e2e::WriteFile(dir.path() + "/work/StationInfo.conf", old_list);
  e2e::NodeOptions options;
  options.read_only_workdir = true;
  e2e::NodeProcess node(caller.domain(), dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, old_list));
  for (int i = 0; i < 20; ++i) {
    const auto set = caller.Call(10001, e2e::MakeList("new", i, 3), kAnswerLimit);
    ASSERT_TRUE(set.has_value());
    EXPECT_EQ(set->code, 10007);
    EXPECT_EQ(set->msg, "Save station info failed");
  }
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, old_list));
  EXPECT_EQ(e2e::ReadFile(node.StationFile()), old_list);
  EXPECT_EQ(e2e::ListFiles(node.WorkDir()), std::vector<std::string>{"StationInfo.conf"});
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

TEST(Hostile, FullWorkingFolderRefusesNewListsAndKeepsTheOld) {
  Caller caller(e2e::TestDomain(6));
  e2e::TempDir dir;
  const std::string old_list = e2e::MakeList("old", 1, 2);
  fs::create_directories(dir.path() + "/seed");
  e2e::WriteFile(dir.path() + "/seed/StationInfo.conf", old_list);
  e2e::NodeOptions options;
  // A 16 KiB file system as the working folder, holding the old list and a
  // filler that takes every block left.
  options.setup =
      "mount -t tmpfs -o size=16k tmpfs \"$WORK\" && cp \"$KORVANE/../seed/StationInfo.conf\" \"$WORK/\" && "
      "{ dd if=/dev/zero of=\"$WORK/filler\" bs=4k 2>/dev/null; true; }";
  e2e::NodeProcess node(caller.domain(), dir.path(), options);
  ASSERT_TRUE(node.WaitReady()) << node.Stdout() << node.Stderr();
  const std::string work = node.SeenByNode(node.WorkDir());
  ASSERT_EQ(FreeBlocks(work), 0u);
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, old_list));
  for (int i = 0; i < 20; ++i) {
    const auto set = caller.Call(10001, e2e::MakeList("new", i, 3), kAnswerLimit);
    ASSERT_TRUE(set.has_value());
    EXPECT_EQ(set->code, 10007);
  }
  ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, old_list));
  EXPECT_EQ(e2e::ReadFile(work + "/StationInfo.conf"), old_list);
  EXPECT_EQ(e2e::ListFiles(work), (std::vector<std::string>{"StationInfo.conf", "filler"}));
  EXPECT_EQ(node.Stop(SIGTERM), 0);
}

// ---- foreign DDS writer ------------------------------------------------------------

// Little-endian CDR of a request sample: encapsulation, then guid, seq,
// cmd_id and the length of biz_data, which `declared` may overstate.
std::vector<uint8_t> RawRequest(uint64_t guid, int64_t seq, int32_t cmd, uint32_t declared,
                                const std::string & payload) {
  std::vector<uint8_t> out = {0x00, 0x01, 0x00, 0x00};
  const auto put = [&out](uint64_t v, int size) {
    for (int i = 0; i < size; ++i) {
      out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  };
  put(guid, 8);
  put(static_cast<uint64_t>(seq), 8);
  put(static_cast<uint32_t>(cmd), 4);
  put(declared, 4);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

TEST(Hostile, ForeignWriterWithMalformedAndOversizedSamplesDoesNotStopTheNode) {
  Caller caller(e2e::TestDomain(7));
  e2e::TempDir dir;
  e2e::NodeProcess node(caller.domain(), dir.path());
  ASSERT_TRUE(node.WaitReady()) << node.Stderr();
  const std::string list = e2e::MakeList("kept", 1, 2);
  const auto set = caller.CallUntilAnswered(10001, list, kAnswerLimit);
  ASSERT_TRUE(set.has_value());
  ASSERT_EQ(set->code, 0);

  // A participant of the test's own, after the layer's, so that it runs with
  // the layer's loopback configuration.
  const dds_entity_t participant = dds_create_participant(caller.domain(), nullptr, nullptr);
  ASSERT_GT(participant, 0);
  const dds_entity_t topic = compat_test::create_raw_cdr_topic(
      participant, "rq/robot_status_queryRequest", "korvane_protocol::srv::dds_::DataCenterSrv_Request_");
  ASSERT_GT(topic, 0);
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(30));
  dds_qset_history(qos, DDS_HISTORY_KEEP_ALL, DDS_LENGTH_UNLIMITED);
  dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
  dds_qset_data_representation(qos, 1, &xcdr1);

  constexpr uint64_t kGuid = 0xbadbadbad;
  constexpr int32_t kForeignCommand = 31337;
  const std::string oversized(64u << 20, '\xab');  // 64 MiB that decode as nothing
  std::vector<uint8_t> cut_header = RawRequest(kGuid, 1, 10003, 0, "");
  cut_header.resize(14);  // ends inside seq
  struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
    bool well_formed;  // the node must take it in (and acknowledge it)
  };
  std::vector<Sample> samples = {
      {"a well-formed request of an unknown command", RawRequest(kGuid, 1, kForeignCommand, 2, "hi"), true},
      {"empty", {}, false},
      {"encapsulation only", {0x00, 0x01, 0x00, 0x00}, false},
      {"unknown encapsulation", {0x7f, 0x7f, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, false},
      {"cut in the header", cut_header, false},
      {"payload length beyond the sample", RawRequest(kGuid, 2, 10001, 1000, "short"), false},
      {"payload length 4 GiB - 1", RawRequest(kGuid, 3, 10001, 0xffffffffu, ""), false},
      {"oversized 10001 payload",
       RawRequest(kGuid, 4, 10001, static_cast<uint32_t>(oversized.size()), oversized), true},
      {"oversized payload on an unknown command",
       RawRequest(kGuid, 5, kForeignCommand, static_cast<uint32_t>(oversized.size()), oversized), true},
  };
  std::mt19937 random(20261207);
  for (int i = 0; i < 40; ++i) {
    std::vector<uint8_t> noise(random() % 600);
    for (auto & b : noise) {
      b = static_cast<uint8_t>(random());
    }
    if (i % 2 == 0 && noise.size() >= 4) {  // half of them with a valid encapsulation
      noise[0] = 0x00;
      noise[1] = 0x01;
      noise[2] = noise[3] = 0x00;
    }
    samples.push_back({"noise " + std::to_string(i), noise, false});
  }

  // One writer per sample: a reader that refuses a sample never acknowledges
  // it, so everything behind it on the same writer would wait forever.
  const long rss_before = e2e::RssKiB(node.pid());
  for (const Sample & sample : samples) {
    SCOPED_TRACE(sample.name);
    const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
    ASSERT_GT(writer, 0);
    const auto match_deadline = std::chrono::steady_clock::now() + 20s;
    dds_publication_matched_status_t matched{};
    while (std::chrono::steady_clock::now() < match_deadline &&
           (dds_get_publication_matched_status(writer, &matched) != DDS_RETCODE_OK ||
            matched.current_count == 0)) {
      std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(matched.current_count, 0u) << "the node's request reader never matched";
    ASSERT_EQ(compat_test::write_raw_cdr(writer, sample.bytes), DDS_RETCODE_OK);
    if (sample.well_formed) {
      EXPECT_EQ(dds_wait_for_acks(writer, DDS_SECS(120)), DDS_RETCODE_OK)
          << "the node did not take the sample";
    }
    ASSERT_NO_FATAL_FAILURE(ExpectServing(caller, node, list));
    dds_delete(writer);
  }
  dds_delete_qos(qos);
  const long rss_after = e2e::RssKiB(node.pid());
  // Cyclone reports each refused packet on standard error, as a warning.
  std::cout << "foreign writer: " << samples.size() << " samples (two of 64 MiB); node VmRSS before "
            << rss_before << " KiB, after " << rss_after << " KiB, peak " << e2e::PeakRssKiB(node.pid())
            << " KiB; node standard error " << e2e::Lines(node.Stderr()).size() << " lines" << std::endl;
  dds_delete(participant);
  EXPECT_EQ(node.Stop(SIGTERM), 0);

  // The well-formed ones were handled as requests: the unknown command twice,
  // the oversized list refused once, for its size, before any decoding.
  // Nothing else reached the handler.
  long foreign = 0;
  long refused = 0;
  for (const auto & line : e2e::Lines(node.Log())) {
    foreign +=
        line.find("cmd id:(" + std::to_string(kForeignCommand) + ") is not support") != std::string::npos;
    refused += line.find("Station list of " + std::to_string(oversized.size()) + " bytes refused") !=
               std::string::npos;
    EXPECT_EQ(line.find("Parse request biz_data failed"), std::string::npos) << line;
  }
  EXPECT_EQ(foreign, 2);
  EXPECT_EQ(refused, 1);
}

}  // namespace
