// SPDX-License-Identifier: Apache-2.0
#include "cli_options.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace data_center {
namespace cli {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "-" (standard input) and negative numbers ("call -7") are arguments, not
// options.
bool LooksLikeOption(const std::string & arg) {
  return arg.size() >= 2 && arg[0] == '-' && !IsDigit(arg[1]);
}

std::string Join(const std::vector<std::string> & parts, size_t from, const char * separator) {
  std::string joined;
  for (size_t i = from; i < parts.size(); ++i) {
    if (i > from) joined += separator;
    joined += parts[i];
  }
  return joined;
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
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX || result < INT32_MIN) return false;
  *value = static_cast<int32_t>(result);
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
  std::vector<std::string> positionals;
  bool options_done = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string & arg = args[i];
    if (options_done || !LooksLikeOption(arg)) {
      positionals.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inline_value = false;
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inline_value = true;
      }
    }
    const bool is_flag = name == "-h" || name == "--help" || name == "-q" || name == "--quiet" ||
                         name == "--json" || name == "-v" || name == "--verbose";
    const bool takes_value =
        name == "--service" || name == "--timeout" || name == "--format" || name == "--file";
    if (is_flag) {
      if (inline_value) {
        fail("option '" + name + "' takes no value");
      } else if (name == "-h" || name == "--help") {
        help = true;
      } else if (name == "-q" || name == "--quiet") {
        options.quiet = true;
      } else if (name == "-v" || name == "--verbose") {
        options.verbose = true;
      } else {
        options.output = OutputFormat::kJson;
      }
      continue;
    }
    if (!takes_value) {
      fail("unknown option '" + arg + "'");
      continue;
    }
    if (!inline_value) {
      if (i + 1 == args.size()) {
        fail("option '" + name + "' needs a value");
        continue;
      }
      value = args[++i];
    }
    if (name == "--service") {
      if (value.empty()) fail("option '--service' needs a non-empty name");
      options.service = value;
    } else if (name == "--timeout") {
      if (ParseTimeout(value, &options.timeout_seconds)) {
        options.timeout = std::chrono::milliseconds(std::llround(options.timeout_seconds * 1000.0));
      } else {
        fail("invalid timeout '" + value + "': expected seconds from 0.001 to 86400");
      }
    } else if (name == "--format") {
      format_given = true;
      if (value == "auto") {
        options.input_format = InputFormat::kAuto;
      } else if (value == "text") {
        options.input_format = InputFormat::kText;
      } else if (value == "json") {
        options.input_format = InputFormat::kJson;
      } else {
        fail("invalid format '" + value + "': expected auto, text or json");
      }
    } else {  // --file
      if (value.empty()) fail("option '--file' needs a path ('-' for standard input)");
      file_path = value;
    }
  }

  if (help) {
    result.status = ParseResult::kHelp;
    return result;
  }
  if (error.empty()) {
    if (positionals.empty()) {
      fail("missing command (last-map, stations, set-stations, robot-info or call)");
    } else {
      const std::string & command = positionals[0];
      const size_t extra = positionals.size() - 1;
      if (command == "last-map" || command == "stations" || command == "robot-info") {
        options.command = command == "last-map"   ? Command::kLastMap
                          : command == "stations" ? Command::kStations
                                                  : Command::kRobotInfo;
        options.cmd_id = command == "last-map"   ? kCmdQueryLastMap
                         : command == "stations" ? kCmdQueryBaseStation
                                                 : kCmdQueryRobotInfo;
        if (extra > 0) fail("'" + command + "' takes no arguments (got '" + positionals[1] + "')");
      } else if (command == "set-stations") {
        options.command = Command::kSetStations;
        options.cmd_id = kCmdIssueBaseStation;
        if (extra == 0) {
          fail("set-stations needs a FILE argument ('-' for standard input)");
        } else if (extra > 1) {
          fail("set-stations takes one FILE argument (got " + std::to_string(extra) + ")");
        } else {
          options.input_path = positionals[1];
        }
      } else if (command == "call") {
        options.command = Command::kCall;
        if (extra == 0) {
          fail("call needs a command number");
        } else if (!ParseCommandId(positionals[1], &options.cmd_id)) {
          fail("invalid command number '" + positionals[1] + "': expected a decimal integer from " +
               std::to_string(INT32_MIN) + " to " + std::to_string(INT32_MAX));
        } else if (!file_path.empty() && extra > 1) {
          fail("call takes a hex payload or --file, not both");
        } else if (!file_path.empty()) {
          options.input_path = file_path;
        } else {
          std::string hex_error;
          if (!ParseHex(Join(positionals, 2, " "), &options.payload, &hex_error)) fail(hex_error);
        }
      } else {
        fail("unknown command '" + command +
             "' (expected last-map, stations, set-stations, robot-info or call)");
      }
      if (format_given && options.command != Command::kSetStations)
        fail("--format applies to set-stations only");
      if (!file_path.empty() && options.command != Command::kCall) fail("--file applies to call only");
    }
  }
  if (!error.empty()) {
    result.status = ParseResult::kUsageError;
    result.error = error;
    return result;
  }
  result.status = ParseResult::kRun;
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
and a NOTE naming them; set-stations refuses such text before sending.

Result codes of the service: 0 success, 10002 command not supported, 10005 the
answer could not be encoded, 10006 the request payload was empty or did not
decode, 10007 the new station list could not be saved (the old one stays),
10008 the request failed inside the node (nothing was changed).

Exit status:
  0  the service answered code 0
  1  the service answered a non-zero code
  2  usage error: bad option or argument, unreadable or malformed input, bad
     ROS arguments
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
