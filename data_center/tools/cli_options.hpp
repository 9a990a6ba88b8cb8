// SPDX-License-Identifier: Apache-2.0
// Command line of data_center_cli (after the ROS arguments are removed) and
// its exit statuses. Free of any middleware so it can be unit-tested.
#ifndef DATA_CENTER__TOOLS__CLI_OPTIONS_HPP_
#define DATA_CENTER__TOOLS__CLI_OPTIONS_HPP_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_payload.hpp"
#include "data_center/protocol.hpp"

namespace data_center {
namespace cli {

// Exit statuses; scripts tell the outcomes apart by them.
enum ExitStatus : int {
  kExitOk = 0,            // the service answered code 0
  kExitServiceError = 1,  // the service answered a non-zero code
  kExitUsage = 2,         // bad option, argument or input (set-stations: a list too large), or bad
                          // ROS arguments
  kExitNoService = 3,     // no service, or no answer, within the timeout
  kExitFailure = 4,       // anything else: interrupted, middleware error
};

// How a call ended, as far as the exit status cares.
enum class CallOutcome { kAnswered, kNoService, kNoAnswer, kInterrupted };

int ExitStatusFor(CallOutcome outcome, int32_t code);

enum class Command { kLastMap, kStations, kSetStations, kRobotInfo, kCall };

constexpr const char * kDefaultService = kServiceName;
constexpr double kDefaultTimeoutSeconds = 5.0;
constexpr double kMaxTimeoutSeconds = 86400.0;

struct Options {
  Command command = Command::kCall;
  int32_t cmd_id = 0;
  std::string service = kDefaultService;
  double timeout_seconds = kDefaultTimeoutSeconds;
  std::chrono::milliseconds timeout{static_cast<int64_t>(kDefaultTimeoutSeconds * 1000)};
  OutputFormat output = OutputFormat::kText;
  bool quiet = false;
  bool verbose = false;  // keep the middleware's warnings on standard error
  // set-stations: FILE or "-"; call: the --file path, empty when the payload
  // came as hex.
  std::string input_path;
  InputFormat input_format = InputFormat::kAuto;
  Bytes payload;  // call: the payload given in hex
};

struct ParseResult {
  enum Status { kRun, kHelp, kUsageError };
  Status status = kUsageError;
  Options options;
  std::string error;  // kUsageError only
};

// `args` are the client's own arguments without the program name.
ParseResult ParseArguments(const std::vector<std::string> & args);

// How the answer payload of each command is shown.
PayloadKind AnswerKind(Command command);

// Strict decimal numbers: the whole text, no blanks, in range.
bool ParseCommandId(const std::string & text, int32_t * value);
bool ParseTimeout(const std::string & text, double * seconds);

std::string UsageText();

}  // namespace cli
}  // namespace data_center

#endif  // DATA_CENTER__TOOLS__CLI_OPTIONS_HPP_
