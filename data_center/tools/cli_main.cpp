// SPDX-License-Identifier: Apache-2.0
// data_center_cli: calls the data_center node's service once and prints the
// answer. Run with --help for commands and options.
// The printed form of an answer is RenderAnswer's (cli_payload.hpp), the exit
// statuses are ExitStatus (cli_options.hpp); --help and docs/client.md tell
// users both.

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cli_options.hpp"
#include "cli_payload.hpp"
#include "data_center/client.hpp"
#include "middleware_notices.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

namespace cli = data_center::cli;

constexpr const char * kProgram = "data_center_cli";

void PrintError(const std::string & message) {
  std::cerr << kProgram << ": " << message << std::endl;
}

int UsageError(const std::string & message) {
  PrintError(message);
  std::cerr << "Try '" << kProgram << " --help' for more information." << std::endl;
  return cli::kExitUsage;
}

std::string Seconds(const cli::Options & options) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", options.timeout_seconds);
  return text;
}

// FILE of set-stations, as messages name it.
std::string InputName(const cli::Options & options) {
  return options.input_path == "-" ? std::string("standard input") : "'" + options.input_path + "'";
}

// What the command sends: the station list of set-stations, which the typed
// client encodes and checks, or the raw payload of the other commands.
struct Request {
  std::optional<data_center::BaseStationInfo> stations;
  cli::Bytes payload;
};

// The request, read and parsed before any middleware starts so that input
// errors are reported without waiting on the network.
bool BuildRequest(const cli::Options & options, Request * request, std::string * error) {
  if (options.command == cli::Command::kSetStations) {
    std::string text;
    if (!cli::ReadInput(options.input_path, &text, error)) return false;
    data_center::BaseStationInfo stations;
    if (!cli::ParseStationList(text, options.input_format, &stations, error)) {
      *error = InputName(options) + ": " + *error;
      return false;
    }
    if (stations.bs_pose_size() == 0 && !options.quiet) {
      std::cerr << kProgram
                << ": note: the station list is empty; the service refuses an empty list (code 10006). "
                   "Sending it anyway."
                << std::endl;
    }
    request->stations = std::move(stations);
    return true;
  }
  if (options.command == cli::Command::kCall && !options.input_path.empty()) {
    std::string raw;
    if (!cli::ReadInput(options.input_path, &raw, error)) return false;
    request->payload.assign(raw.begin(), raw.end());
    return true;
  }
  request->payload = options.payload;  // hex of call; empty for the other commands
  return true;
}

int Call(const cli::Options & options, const Request & request) {
  auto node = std::make_shared<rclcpp::Node>(std::string(kProgram) + "_" + std::to_string(getpid()));
  std::unique_ptr<data_center::Client> client;
  try {
    client = std::make_unique<data_center::Client>(node, options.service);
  } catch (const std::invalid_argument & e) {  // a service name that is not a valid ROS name
    return UsageError(std::string("invalid service name '") + options.service + "': " + e.what());
  }

  data_center::Reply reply;
  if (request.stations) {
    // The client refuses a list the node would refuse for its size before it
    // waits for the service; otherwise it waits as below.
    reply = client->IssueBaseStation(*request.stations, options.timeout);
  } else {
    if (!client->WaitForService(options.timeout)) {
      if (!rclcpp::ok()) {
        PrintError("interrupted while waiting for service '" + options.service + "'");
        return cli::ExitStatusFor(cli::CallOutcome::kInterrupted, 0);
      }
      PrintError("service '" + options.service + "' not available within " + Seconds(options));
      return cli::ExitStatusFor(cli::CallOutcome::kNoService, 0);
    }
    reply = client->Call(options.cmd_id, request.payload, options.timeout);
  }
  switch (reply.status) {
    case data_center::CallStatus::kOk:
    case data_center::CallStatus::kFailed:
      break;
    case data_center::CallStatus::kNoService:  // gone again since it appeared
      PrintError("service '" + options.service + "' not available within " + Seconds(options));
      return cli::ExitStatusFor(cli::CallOutcome::kNoService, 0);
    case data_center::CallStatus::kTimedOut:
      PrintError("no answer from service '" + options.service + "' within " + Seconds(options));
      return cli::ExitStatusFor(cli::CallOutcome::kNoAnswer, 0);
    case data_center::CallStatus::kTooLarge:
      PrintError(InputName(options) + ": " + data_center::ToString(reply.status) + " (it encodes to " +
                 std::to_string(request.stations->ByteSizeLong()) + " bytes)");
      return cli::kExitUsage;
    case data_center::CallStatus::kBadAnswer:  // raw calls decode nothing
    case data_center::CallStatus::kInterrupted:
    default:
      PrintError("interrupted while waiting for the answer");
      return cli::ExitStatusFor(cli::CallOutcome::kInterrupted, 0);
  }

  cli::Answer answer;
  answer.code = reply.code;
  answer.msg = reply.msg;
  answer.payload = reply.payload;
  const auto rendered =
      cli::RenderAnswer(answer, cli::AnswerKind(options.command), options.output, options.quiet);
  std::cout << rendered.out << std::flush;
  if (!rendered.err.empty()) std::cerr << kProgram << ": " << rendered.err << std::flush;
  return cli::ExitStatusFor(cli::CallOutcome::kAnswered, answer.code);
}

}  // namespace

int main(int argc, char ** argv) {
  std::vector<std::string> args;
  try {
    args = rclcpp::remove_ros_arguments(argc, argv);
  } catch (const std::exception & e) {
    return UsageError(e.what());
  }
  if (!args.empty()) args.erase(args.begin());  // the program name

  const cli::ParseResult parsed = cli::ParseArguments(args);
  if (parsed.status == cli::ParseResult::kHelp) {
    std::cout << cli::UsageText();
    return cli::kExitOk;
  }
  if (parsed.status == cli::ParseResult::kUsageError) return UsageError(parsed.error);
  const cli::Options & options = parsed.options;

  Request request;
  std::string error;
  if (!BuildRequest(options, &request, &error)) return UsageError(error);

  // A person or a script reads the client's standard error: the
  // middleware's notices are for --verbose.
  if (!options.verbose) cli::QuietMiddlewareNotices();
  try {
    rclcpp::init(argc, argv);
  } catch (const std::exception & e) {
    return UsageError(e.what());
  }
  if (!options.verbose) cli::QuietMiddlewareNotices();

  int status = cli::kExitFailure;
  try {
    status = Call(options, request);
  } catch (const std::exception & e) {
    PrintError(std::string("error: ") + e.what());
    status = cli::kExitFailure;
  }
  rclcpp::shutdown();
  return status;
}
