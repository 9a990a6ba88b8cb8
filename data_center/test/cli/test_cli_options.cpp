// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli_options.hpp"

namespace data_center {
namespace cli {
namespace {

ParseResult Parse(const std::vector<std::string> & args) {
  return ParseArguments(args);
}

Options ParseOk(const std::vector<std::string> & args) {
  const ParseResult result = Parse(args);
  EXPECT_EQ(result.status, ParseResult::kRun) << result.error;
  return result.options;
}

TEST(CliOptions, NamedCommandsSelectTheirNumbersAndDefaults) {
  struct Case {
    const char * name;
    Command command;
    int32_t cmd_id;
  };
  const Case cases[] = {{"last-map", Command::kLastMap, 1002},
                        {"stations", Command::kStations, 10002},
                        {"robot-info", Command::kRobotInfo, 10003}};
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    const Options options = ParseOk({c.name});
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.cmd_id, c.cmd_id);
    EXPECT_EQ(options.service, "robot_status_query");
    EXPECT_EQ(options.timeout.count(), 5000);
    EXPECT_EQ(options.output, OutputFormat::kText);
    EXPECT_FALSE(options.quiet);
    EXPECT_FALSE(options.verbose);
    EXPECT_TRUE(options.payload.empty());
  }

  const Options set = ParseOk({"set-stations", "-"});
  EXPECT_EQ(set.command, Command::kSetStations);
  EXPECT_EQ(set.cmd_id, 10001);
  EXPECT_EQ(set.input_path, "-");
  EXPECT_EQ(set.input_format, InputFormat::kAuto);
}

TEST(CliOptions, OptionsGoAnywhereInBothSpellings) {
  const Options a = ParseOk({"--service", "other_query", "stations", "--timeout", "2.5", "--json", "-q"});
  EXPECT_EQ(a.service, "other_query");
  EXPECT_EQ(a.timeout.count(), 2500);
  EXPECT_EQ(a.output, OutputFormat::kJson);
  EXPECT_TRUE(a.quiet);
  EXPECT_TRUE(ParseOk({"-v", "stations"}).verbose);
  EXPECT_TRUE(ParseOk({"stations", "--verbose"}).verbose);

  const Options b =
      ParseOk({"set-stations", "in.json", "--format=json", "--service=/ns/q", "--timeout=0.001"});
  EXPECT_EQ(b.input_format, InputFormat::kJson);
  EXPECT_EQ(b.service, "/ns/q");
  EXPECT_EQ(b.timeout.count(), 1);
  EXPECT_EQ(b.input_path, "in.json");

  // After "--" a name that looks like an option is a file name.
  EXPECT_EQ(ParseOk({"set-stations", "--", "--odd-name"}).input_path, "--odd-name");
}

TEST(CliOptions, CallTakesNumberAndHexOrFile) {
  const Options hex = ParseOk({"call", "10001", "0a:09", "08B8", "17"});
  EXPECT_EQ(hex.command, Command::kCall);
  EXPECT_EQ(hex.cmd_id, 10001);
  EXPECT_EQ(hex.payload, (Bytes{0x0a, 0x09, 0x08, 0xb8, 0x17}));
  EXPECT_TRUE(hex.input_path.empty());

  // A negative number is a command number, not an option.
  const Options negative = ParseOk({"call", "-7"});
  EXPECT_EQ(negative.cmd_id, -7);
  EXPECT_TRUE(negative.payload.empty());

  const Options file = ParseOk({"call", "--file", "payload.bin", "5"});
  EXPECT_EQ(file.cmd_id, 5);
  EXPECT_EQ(file.input_path, "payload.bin");
  EXPECT_EQ(ParseOk({"call", "5", "--file", "-"}).input_path, "-");
}

TEST(CliOptions, CommandNumberLimits) {
  int32_t value = 0;
  ASSERT_TRUE(ParseCommandId("2147483647", &value));
  EXPECT_EQ(value, INT32_MAX);
  ASSERT_TRUE(ParseCommandId("-2147483648", &value));
  EXPECT_EQ(value, INT32_MIN);
  ASSERT_TRUE(ParseCommandId("+0010", &value));
  EXPECT_EQ(value, 10);
  for (const char * bad : {"2147483648", "-2147483649", "99999999999999999999", "", "-", "12a", " 5", "5 ",
                           "0x10", "1e3", "1.0"}) {
    EXPECT_FALSE(ParseCommandId(bad, &value)) << bad;
  }
}

TEST(CliOptions, TimeoutLimits) {
  double seconds = 0;
  ASSERT_TRUE(ParseTimeout("86400", &seconds));
  EXPECT_EQ(seconds, 86400.0);
  ASSERT_TRUE(ParseTimeout(".5", &seconds));
  EXPECT_EQ(seconds, 0.5);
  for (const char * bad :
       {"0", "0.0009", "-1", "86400.5", "1e10", "nan", "inf", "abc", "5s", "", " 5", "+5"}) {
    EXPECT_FALSE(ParseTimeout(bad, &seconds)) << bad;
  }
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    const char * says;
  };
  const Case cases[] = {
      {{}, "missing command"},
      {{"--json"}, "missing command"},
      {{"map"}, "unknown command 'map'"},
      {{"stations", "--loud"}, "unknown option '--loud'"},
      {{"stations", "-x"}, "unknown option '-x'"},
      {{"stations", "--timeout"}, "'--timeout' needs a value"},
      {{"stations", "--service="}, "non-empty"},
      {{"stations", "--timeout", "0"}, "invalid timeout '0'"},
      {{"stations", "--json=yes"}, "'--json' takes no value"},
      {{"stations", "extra"}, "'stations' takes no arguments (got 'extra')"},
      {{"robot-info", "00"}, "'robot-info' takes no arguments"},
      {{"set-stations"}, "needs a FILE"},
      {{"set-stations", "a", "b"}, "one FILE argument"},
      {{"set-stations", "a", "--format", "xml"}, "invalid format 'xml'"},
      {{"stations", "--format", "json"}, "--format applies to set-stations only"},
      {{"stations", "--file", "x"}, "--file applies to call only"},
      {{"call"}, "needs a command number"},
      {{"call", "12a"}, "invalid command number '12a'"},
      {{"call", "4294967296"}, "invalid command number"},
      {{"call", "1", "0A", "9"}, "odd number of digits in '9'"},
      {{"call", "1", "0G"}, "'G' at position 2 is not a hex digit"},
      {{"call", "1", "AA", "--file", "x"}, "not both"},
  };
  for (const Case & c : cases) {
    std::string joined;
    for (const auto & a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const ParseResult result = Parse(c.args);
    EXPECT_EQ(result.status, ParseResult::kUsageError);
    EXPECT_NE(result.error.find(c.says), std::string::npos) << result.error;
  }
}

TEST(CliOptions, HelpWinsOverEverythingElse) {
  for (const std::vector<std::string> & args :
       std::vector<std::vector<std::string>>{{"-h"},
                                             {"--help"},
                                             {"call", "--help"},
                                             {"bogus", "--nope", "-h"},
                                             {"stations", "--timeout", "x", "--help"}}) {
    EXPECT_EQ(Parse(args).status, ParseResult::kHelp);
  }
  // After "--" it is just a word.
  EXPECT_EQ(Parse({"stations", "--", "--help"}).status, ParseResult::kUsageError);
}

TEST(CliOptions, ExitStatusesAreDistinct) {
  EXPECT_EQ(ExitStatusFor(CallOutcome::kAnswered, 0), 0);
  EXPECT_EQ(ExitStatusFor(CallOutcome::kAnswered, 10006), 1);
  EXPECT_EQ(ExitStatusFor(CallOutcome::kAnswered, -1), 1);
  EXPECT_EQ(ExitStatusFor(CallOutcome::kNoService, 0), 3);
  EXPECT_EQ(ExitStatusFor(CallOutcome::kNoAnswer, 0), 3);
  EXPECT_EQ(ExitStatusFor(CallOutcome::kInterrupted, 0), 4);
  EXPECT_EQ(kExitUsage, 2);
}

// The examples in --help must keep working as the options change.
TEST(CliOptions, HelpExamplesParse) {
  std::istringstream help(UsageText());
  std::string line;
  int examples = 0;
  const std::string program = "data_center_cli ";
  while (std::getline(help, line)) {
    const size_t at = line.find(program);
    if (line.compare(0, 2, "  ") != 0 || at == std::string::npos ||
        line.find("[OPTIONS]") != std::string::npos) {
      continue;
    }
    SCOPED_TRACE(line);
    std::istringstream words(line.substr(at + program.size()));
    std::vector<std::string> args;
    std::string word;
    while (words >> word && word != "--ros-args") args.push_back(word);
    EXPECT_EQ(Parse(args).status, ParseResult::kRun) << Parse(args).error;

    const size_t open = line.find('\'');
    const size_t close = line.rfind('\'');
    if (line.compare(0, 7, "  echo ") == 0 && open != close) {
      BaseStationInfo stations;
      std::string error;
      EXPECT_TRUE(
          ParseStationList(line.substr(open + 1, close - open - 1), InputFormat::kAuto, &stations, &error))
          << error;
      EXPECT_EQ(stations.bs_pose_size(), 1);
    }
    const Options options = Parse(args).options;
    if (options.command == Command::kCall && options.cmd_id == 10001 && options.input_path.empty()) {
      BaseStationInfo stations;
      EXPECT_TRUE(stations.ParseFromArray(options.payload.data(), static_cast<int>(options.payload.size())));
      EXPECT_EQ(stations.bs_pose_size(), 1);
    }
    ++examples;
  }
  EXPECT_GE(examples, 8);
}

}  // namespace
}  // namespace cli
}  // namespace data_center
