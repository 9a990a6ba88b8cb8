// SPDX-License-Identifier: Apache-2.0
#include "cli_options.hpp"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <tuple>

namespace data_center {
namespace cli {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// getopt_long_only rather than getopt_long: it takes every argument whole
// ("-q" is the option named "q"), so "-qv" is one unknown option, as it always
// was, and no state is left inside an argument between calls.
const option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},          {"h", no_argument, nullptr, 'h'},
    {"quiet", no_argument, nullptr, 'q'},         {"q", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},       {"v", no_argument, nullptr, 'v'},
    {"json", no_argument, nullptr, 'j'},          {"service", required_argument, nullptr, 's'},
    {"timeout", required_argument, nullptr, 't'}, {"format", required_argument, nullptr, 'f'},
    {"file", required_argument, nullptr, 'F'},    {}};

// The option spelled exactly `name` ("-h", "--help"), or null: getopt also
// takes abbreviations ("--verb") and one dash before a word ("-json"), which
// the client refuses.
const option * Spelled(const std::string & name) {
  for (const option * o = kOptions; o->name != nullptr; ++o) {
    if (name == (o->name[1] == '\0' ? "-" : "--") + std::string(o->name)) return o;
  }
  return nullptr;
}

// The command and its arguments, and the options that apply to one command.
std::string ParseCommand(const std::vector<std::string> & words, const std::string & file_path,
                         bool format_given, Options * options) {
  static const std::map<std::string, std::pair<Command, int32_t>> kCommands = {
      {"last-map", {Command::kLastMap, kCmdQueryLastMap}},
      {"stations", {Command::kStations, kCmdQueryBaseStation}},
      {"set-stations", {Command::kSetStations, kCmdIssueBaseStation}},
      {"robot-info", {Command::kRobotInfo, kCmdQueryRobotInfo}},
      {"call", {Command::kCall, 0}}};  // the number comes next
  if (words.empty()) return "missing command (last-map, stations, set-stations, robot-info or call)";
  const auto named = kCommands.find(words[0]);
  if (named == kCommands.end()) {
    return "unknown command '" + words[0] +
           "' (expected last-map, stations, set-stations, robot-info or call)";
  }
  std::tie(options->command, options->cmd_id) = named->second;
  const size_t extra = words.size() - 1;
  std::string error;
  if (options->command == Command::kSetStations) {
    if (extra == 0) {
      error = "set-stations needs a FILE argument ('-' for standard input)";
    } else if (extra > 1) {
      error = "set-stations takes one FILE argument (got " + std::to_string(extra) + ")";
    } else {
      options->input_path = words[1];
    }
  } else if (options->command == Command::kCall) {
    std::string hex;
    for (size_t i = 2; i < words.size(); ++i) hex += (i > 2 ? " " : "") + words[i];
    if (extra == 0) {
      error = "call needs a command number";
    } else if (!ParseCommandId(words[1], &options->cmd_id)) {
      error = "invalid command number '" + words[1] + "': expected a decimal integer from " +
              std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX);
    } else if (!file_path.empty() && extra > 1) {
      error = "call takes a hex payload or --file, not both";
    } else if (!file_path.empty()) {
      options->input_path = file_path;
    } else {
      ParseHex(hex, &options->payload, &error);
    }
  } else if (extra > 0) {
    error = "'" + words[0] + "' takes no arguments (got '" + words[1] + "')";
  }
  if (error.empty() && format_given && options->command != Command::kSetStations) {
    error = "--format applies to set-stations only";
  }
  if (error.empty() && !file_path.empty() && options->command != Command::kCall) {
    error = "--file applies to call only";
  }
  return error;
}

}  // namespace

int ExitStatusFor(CallOutcome outcome, int32_t code) {
  switch (outcome) {
    case CallOutcome::kAnswered:
      return code == 0 ? kExitOk : kExitServiceError;
    case CallOutcome::kNoService:
    case CallOutcome::kNoAnswer:
      return kExitNoService;
    case CallOutcome::kInterrupted:
      return kExitFailure;
  }
  return kExitFailure;
}

PayloadKind AnswerKind(Command command) {
  switch (command) {
    case Command::kLastMap:
      return PayloadKind::kMapInfo;
    case Command::kStations:
      return PayloadKind::kBaseStationInfo;
    case Command::kRobotInfo:
      return PayloadKind::kRobotInfoResp;
    case Command::kSetStations:  // answers no payload; show whatever comes
    case Command::kCall:
      return PayloadKind::kHex;
  }
  return PayloadKind::kHex;
}

bool ParseCommandId(const std::string & text, int32_t * value) {
  const char * first = text.c_str();
  const char * const last = first + text.size();
  if (text.size() > 1 && text[0] == '+' && IsDigit(text[1])) ++first;  // from_chars takes '-' only
  int32_t parsed = 0;
  const std::from_chars_result result = std::from_chars(first, last, parsed);
  if (result.ec != std::errc() || result.ptr != last) return false;
  *value = parsed;
  return true;
}

bool ParseTimeout(const std::string & text, double * seconds) {
  if (text.empty() || !(IsDigit(text[0]) || text[0] == '.')) return false;
  errno = 0;
  char * end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
  if (value < 0.001 || value > kMaxTimeoutSeconds) return false;
  *seconds = value;
  return true;
}

ParseResult ParseArguments(const std::vector<std::string> & args) {
  ParseResult result;
  Options & options = result.options;
  std::string error;
  auto fail = [&error](const std::string & message) {
    if (error.empty()) error = message;
  };
  bool help = false;
  bool format_given = false;
  std::string file_path;
  std::vector<std::string> words;  // the command and its arguments

  // getopt neither writes to the strings nor, with "-", reorders them.
  std::vector<char *> argv = {const_cast<char *>("data_center_cli")};
  for (const std::string & arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size()) + 1;
  opterr = 0;  // the messages are ours
  optind = 0;  // glibc starts afresh: a process may parse more than once
  for (;;) {
    const int at = std::max(optind, 1);  // the argument getopt reads next
    // "-": operands come back in place, as 1, so options go anywhere and
    // POSIXLY_CORRECT changes nothing; "--" ends the options (-1).
    const int id = getopt_long_only(argc, argv.data(), "-", kOptions, nullptr);
    if (id == -1) break;
    if (id == 1) {
      words.emplace_back(optarg);
      continue;
    }
    const std::string arg = argv[at];
    const std::string name = arg.compare(0, 2, "--") == 0 ? arg.substr(0, arg.find('=')) : arg;
    const option * spelled = Spelled(name);
    if (spelled == nullptr) {
      if (IsDigit(arg[1])) {
        words.push_back(arg);  // a negative number ("call -7")
      } else {
        fail("unknown option '" + arg + "'");
      }
      optind = at + 1;  // an abbreviation may have taken the next argument as its value
      continue;
    }
    if (id == '?') {  // "--json=yes", or nothing after "--timeout"
      fail("option '" + name + (spelled->has_arg ? "' needs a value" : "' takes no value"));
      continue;
    }
    const std::string value = optarg == nullptr ? "" : optarg;
    if (id == 'h') {
      help = true;
    } else if (id == 'q') {
      options.quiet = true;
    } else if (id == 'v') {
      options.verbose = true;
    } else if (id == 'j') {
      options.output = OutputFormat::kJson;
    } else if (id == 's') {
      if (value.empty()) fail("option '--service' needs a non-empty name");
      options.service = value;
    } else if (id == 't') {
      if (ParseTimeout(value, &options.timeout_seconds)) {
        options.timeout = std::chrono::milliseconds(std::llround(options.timeout_seconds * 1000.0));
      } else {
        fail("invalid timeout '" + value + "': expected seconds from 0.001 to 86400");
      }
    } else if (id == 'f') {
      format_given = true;
      if (value == "auto" || value == "text" || value == "json") {
        options.input_format = value == "auto"   ? InputFormat::kAuto
                               : value == "text" ? InputFormat::kText
                                                 : InputFormat::kJson;
      } else {
        fail("invalid format '" + value + "': expected auto, text or json");
      }
    } else {  // --file
      if (value.empty()) fail("option '--file' needs a path ('-' for standard input)");
      file_path = value;
    }
  }
  words.insert(words.end(), argv.begin() + optind, argv.begin() + argc);

  if (help) {
    result.status = ParseResult::kHelp;
    return result;
  }
  if (error.empty()) error = ParseCommand(words, file_path, format_given, &options);
  result.status = error.empty() ? ParseResult::kRun : ParseResult::kUsageError;
  result.error = error;
  return result;
}

std::string UsageText() {
  return R"(Usage: data_center_cli [OPTIONS] COMMAND [ARGS] [--ros-args ROS_ARGS...]

Sends one request to the data_center node's service (type
korvane_protocol/srv/DataCenterSrv) and prints the answer.

Commands:
  last-map              command 1002: identifier of the map used last
                        (answer: MapInfo)
  stations              command 10002: the stored base-station poses
                        (answer: BaseStationInfo)
  set-stations FILE     command 10001: replace the stored base-station poses
                        with the BaseStationInfo in FILE ('-' reads standard
                        input), in protobuf text format or JSON. The service
                        refuses an empty list (code 10006); such a list is
                        still sent, with a note.
  robot-info            command 10003: job statistics (answer: RobotInfoResp)
  call CMD_ID [HEX...]  any command number, with a raw payload in hex: pairs of
                        digits in either case, optionally separated by spaces or
                        colons ("0a:09 08", "0A0908"); no HEX sends no payload
  call CMD_ID --file PATH
                        any command number, with the raw bytes of PATH as the
                        payload ('-' reads standard input)

Options (allowed anywhere on the line):
  --service NAME        service to call (default: robot_status_query, resolved
                        in the node's namespace; --ros-args -r remaps it too)
  --timeout SECONDS     how long to wait for the service to appear, and again
                        for its answer (default: 5, at most 86400)
  --json                print the answer payload as one line of JSON (proto
                        field names, zero values included) instead of protobuf
                        text format
  --format auto|text|json
                        how set-stations reads FILE (default auto: JSON when it
                        starts with '{', otherwise protobuf text format)
  --file PATH           raw payload for call ('-' reads standard input)
  -q, --quiet           print only the payload, without the code, msg and
                        payload lines and without notes; failures still go to
                        standard error and the exit status tells the outcome
  -v, --verbose         also show the middleware's own notices on standard
                        error (Cyclone DDS warnings such as "interface lo is
                        not multicast-capable"); without it only its errors,
                        and what CYCLONEDDS_URI's Tracing asks for, are shown
  -h, --help            show this help and exit
  --                    end of options

Output (standard output):
  code: N               the service's result code
  msg: "TEXT"           its text, quoted; \" \\ \n \r \t and \xHH escapes
  payload: KIND (N bytes[; NOTE])
  BODY
KIND is MapInfo, BaseStationInfo or RobotInfoResp when the payload was decoded
(BODY: protobuf text format, fields outside the schema shown by number; or one
line of JSON with --json). KIND is hex for call and set-stations and for a
payload that does not decode or holds fields JSON cannot show (BODY: upper-case
hex, 16 bytes a line; NOTE says why). An empty BODY prints nothing. Text
fields that are not UTF-8 (a map identifier, say) are shown with \xHH escapes
and a NOTE naming them; set-stations refuses such text, and a list that
encodes above 65536 bytes (which the service refuses), before sending.

Result codes of the service: 0 success, 10002 command not supported, 10005 the
answer could not be encoded, 10006 the request payload was empty or did not
decode, 10007 the new station list could not be saved (the old one stays),
10008 the request failed inside the node (nothing was changed).

Exit status:
  0  the service answered code 0
  1  the service answered a non-zero code
  2  usage error: bad option or argument, unreadable, malformed or oversized
     input, bad ROS arguments
  3  the service did not appear, or did not answer, within the timeout
  4  other failure (interrupted, middleware error)

Examples:
  data_center_cli last-map
  data_center_cli stations --json
  data_center_cli set-stations stations.txt
  echo 'bs_pose { map_id: 1 x: 1.5 y: -2 map_id_str: "m1" }' | data_center_cli set-stations -
  echo '{"bs_pose": [{"map_id": 1, "x": 1.5, "y": -2}]}' | data_center_cli set-stations -
  data_center_cli robot-info --timeout 2
  data_center_cli call 10003
  data_center_cli call 10001 0a:0b:08:01:11:00:00:00:00:00:00:f8:3f
  data_center_cli call 10001 --file stations.bin
  data_center_cli stations --ros-args -r __ns:=/robot1
)";
}

}  // namespace cli
}  // namespace data_center
