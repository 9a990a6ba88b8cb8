// SPDX-License-Identifier: Apache-2.0
// A cross build's node and client against the host's native build of the same
// source: every answer must be the same bytes whichever architecture serves or
// asks. Both are little-endian, so any difference is a fault of ours.
//
// Built only in cross builds; DATA_CENTER_NATIVE_BIN_DIR names the native
// build's programs (build/bin by default).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

using e2e::NodeProcess;
using e2e::TempDir;

// Domain ids 140-149 belong to this file, one per test.

const std::string kNativeNode = std::string(DATA_CENTER_NATIVE_BIN_DIR) + "/data_center";
const std::string kNativeCli = std::string(DATA_CENTER_NATIVE_BIN_DIR) + "/data_center_cli";

// e_machine of an ELF file, 0 when it is none.
int ElfMachine(const std::string & path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[20] = {};
  if (!in.read(reinterpret_cast<char *>(header), sizeof header) || header[0] != 0x7f || header[1] != 'E' ||
      header[2] != 'L' || header[3] != 'F') {
    return 0;
  }
  return header[5] == 1 ? header[18] | header[19] << 8 : header[18] << 8 | header[19];
}

// Poses whose doubles and strings are easy to get wrong: subnormal and
// extreme values, negative zero, non-ASCII text, a negative id.
const char kStations[] =
    "bs_pose { map_id: 3 x: 0.1 y: -2.5e-300 map_id_str: \"m3\" }\n"
    "bs_pose { map_id: -7 x: 1.7976931348623157e308 y: -0.0 map_id_str: \"Karte \\303\\274 \\t tab\" }\n"
    "bs_pose { map_id: 2147483647 x: 4.9e-324 y: 123456.789 map_id_str: \"\" }\n";

// Standard error without Cyclone DDS's own diagnostics, which start with a
// clock reading and a thread id ("1796650750.321272 [33] data_cente: ...")
// and so differ from run to run.
std::string WithoutMiddlewareLog(const std::string & err) {
  static const std::regex kCycloneLine(R"(^[0-9]+\.[0-9]+ \[[0-9]+\] .*$)");
  std::string kept;
  for (const std::string & line : e2e::Lines(err)) {
    if (!std::regex_match(line, kCycloneLine)) {
      kept += line + "\n";
    }
  }
  return kept;
}

struct Step {
  std::string label;
  std::vector<std::string> args;
};

// One node and one client program through every command and the usual
// refusals; each entry is one call's exit status and output, then the node's
// standard output and the stored station file.
std::vector<std::string> Transcript(const std::vector<std::string> & node_program,
                                    const std::vector<std::string> & cli_program, int domain) {
  TempDir dir;
  const std::string map_dir = dir.path() + "/korvane/data/resource/map";
  EXPECT_EQ(system(("mkdir -p '" + map_dir + "'").c_str()), 0);
  e2e::WriteFile(map_dir + "/history.map", " map_\xc3\xa9t\xc3\xa9 rest\n");
  const std::string stations = dir.path() + "/stations.txt";
  e2e::WriteFile(stations, kStations);

  e2e::NodeOptions options;
  options.program = node_program;
  NodeProcess node(domain, dir.path(), options);
  if (!node.WaitReady()) {
    ADD_FAILURE() << "node did not start: " << node.Stderr();
    return {};
  }
  const std::vector<Step> steps = {
      {"robot info, raw", {"call", "10003"}},
      {"robot info, json", {"robot-info", "--json"}},
      {"last map", {"last-map"}},
      {"last map, json", {"last-map", "--json"}},
      {"empty station list", {"call", "10002"}},
      {"set stations", {"set-stations", stations}},
      {"stations, text", {"stations"}},
      {"stations, json", {"stations", "--json"}},
      {"stations, raw", {"call", "10002"}},
      {"not UTF-8", {"call", "10001", "0A 03 22 01 FF"}},
      {"truncated", {"call", "10001", "0A"}},
      {"unsupported", {"call", "-42"}},
      {"unknown field kept", {"call", "10001", "28 07 0A 02 08 09"}},
      {"stations with unknown field", {"stations"}},
      {"stations with unknown field, json", {"stations", "--json"}},
  };
  std::vector<std::string> transcript;
  for (const auto & step : steps) {
    const auto r = e2e::Cli(cli_program, domain, step.args);
    transcript.push_back(step.label + "\nexit " + std::to_string(r.exit_status) + "\n" + r.out +
                         "\nstderr:\n" + WithoutMiddlewareLog(r.err));
  }
  EXPECT_EQ(node.Stop(SIGTERM), 0) << node.Stderr();
  transcript.push_back("node stdout:\n" + node.Stdout());
  transcript.push_back("stored file:\n" + e2e::Hex(e2e::ReadFile(node.StationFile())));
  return transcript;
}

class MixedArchitectures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(access(kNativeNode.c_str(), X_OK), 0)
        << kNativeNode << ": build the native tree first (preset default), or set DATA_CENTER_NATIVE_BIN_DIR";
    ASSERT_EQ(access(kNativeCli.c_str(), X_OK), 0) << kNativeCli;
    // Otherwise the comparison would be of a build with itself.
    ASSERT_NE(ElfMachine(kNativeNode), 0);
    ASSERT_NE(ElfMachine(kNativeNode), ElfMachine(DATA_CENTER_BIN)) << "native and cross builds are alike";
  }

  // The all-native transcript on `reference_domain`, then the given pair's
  // on `domain` (each test has its own two: tests run in parallel).
  static void ExpectSameAsNative(const std::vector<std::string> & node, const std::vector<std::string> & cli,
                                 int domain, int reference_domain) {
    const auto reference = Transcript({kNativeNode}, {kNativeCli}, reference_domain);
    ASSERT_EQ(reference.size(), 17u);
    const auto transcript = Transcript(node, cli, domain);
    ASSERT_EQ(transcript.size(), reference.size());
    for (size_t i = 0; i < transcript.size(); ++i) {
      EXPECT_EQ(transcript[i], reference[i]);
    }
  }
};

TEST_F(MixedArchitectures, CrossBuiltNodeAnswersTheNativeClientAsTheNativeNodeDoes) {
  ExpectSameAsNative(e2e::OwnProgram(DATA_CENTER_BIN), {kNativeCli}, e2e::TestDomain(0), e2e::TestDomain(1));
}

TEST_F(MixedArchitectures, NativeNodeAnswersTheCrossBuiltClientAsItAnswersTheNativeOne) {
  ExpectSameAsNative({kNativeNode}, e2e::OwnProgram(DATA_CENTER_CLI_BIN), e2e::TestDomain(2),
                     e2e::TestDomain(3));
}

TEST_F(MixedArchitectures, CrossBuiltNodeAndClientTogetherAnswerAsTheNativeOnes) {
  ExpectSameAsNative(e2e::OwnProgram(DATA_CENTER_BIN), e2e::OwnProgram(DATA_CENTER_CLI_BIN),
                     e2e::TestDomain(4), e2e::TestDomain(5));
}

}  // namespace
