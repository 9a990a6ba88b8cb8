// SPDX-License-Identifier: Apache-2.0
// data_center_cli: calls the data_center node's service once and prints the
// answer. Run with --help for commands and options.
//
// Output on standard output, meant to be read by scripts and tests:
//   line 1   code: N                the response's code, signed decimal
//   line 2   msg: "TEXT"            the response's msg in double quotes, with
//                                   \" \\ \n \r \t escaped, and other control
//                                   bytes and bytes that are not valid UTF-8
//                                   as \xHH (always two hex digits)
//   line 3   payload: KIND (N bytes[; NOTE])   ("1 byte" when N is 1)
//   line 4+  the payload body, possibly nothing
// KIND is MapInfo, BaseStationInfo or RobotInfoResp when the answer of
// last-map, stations or robot-info decoded: the body is protobuf text format
// (UTF-8 kept, fields outside the schema printed by number), or with --json a
// single line of JSON with proto field names and zero values included.
// Otherwise KIND is "hex": raw calls, set-stations, or a payload that does not
// decode (NOTE "not a valid T") or whose unknown fields JSON cannot carry; the
// body is upper-case hex, 16 space-separated bytes a line.
// Text fields that are not UTF-8 are shown with \xHH escapes and a NOTE
// naming them (without --quiet on the payload line, with it on standard
// error); set-stations refuses such text before sending (status 2).
// With --quiet only the body is printed. Notes and errors go to standard
// error. Exit status: 0 code 0, 1 non-zero code, 2 usage error, 3 no service
// or no answer within the timeout, 4 other failure.

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_options.hpp"
#include "cli_payload.hpp"
#include "korvane_protocol/srv/data_center_srv.hpp"
#include "middleware_notices.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using data_center::cli::Bytes;
using data_center::cli::CallOutcome;
using data_center::cli::Command;
using data_center::cli::Options;
using Srv = korvane_protocol::srv::DataCenterSrv;

constexpr const char * kProgram = "data_center_cli";

void PrintError(const std::string & message) {
  std::cerr << kProgram << ": " << message << std::endl;
}

int UsageError(const std::string & message) {
  PrintError(message);
  std::cerr << "Try '" << kProgram << " --help' for more information." << std::endl;
  return data_center::cli::kExitUsage;
}

std::string Seconds(const Options & options) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", options.timeout_seconds);
  return text;
}

// The request payload, read and encoded before any middleware starts so that
// input errors are reported without waiting on the network.
bool BuildPayload(const Options & options, Bytes * payload, std::string * error) {
  if (options.command == Command::kSetStations) {
    std::string text;
    if (!data_center::cli::ReadInput(options.input_path, &text, error)) return false;
    data_center::BaseStationInfo stations;
    if (!data_center::cli::ParseStationList(text, options.input_format, &stations, error)) {
      *error = (options.input_path == "-" ? std::string("standard input") : "'" + options.input_path + "'") +
               ": " + *error;
      return false;
    }
    if (!data_center::cli::SerializeMessage(stations, payload)) {
      *error = "cannot encode the station list";
      return false;
    }
    if (stations.bs_pose_size() == 0 && !options.quiet) {
      std::cerr << kProgram
                << ": note: the station list is empty; the service refuses an empty list (code 10006). "
                   "Sending it anyway."
                << std::endl;
    }
    return true;
  }
  if (options.command == Command::kCall && !options.input_path.empty()) {
    std::string raw;
    if (!data_center::cli::ReadInput(options.input_path, &raw, error)) return false;
    payload->assign(raw.begin(), raw.end());
    return true;
  }
  *payload = options.payload;  // hex of call; empty for the other commands
  return true;
}

int Call(const Options & options, const Bytes & payload) {
  auto node = std::make_shared<rclcpp::Node>(std::string(kProgram) + "_" + std::to_string(getpid()));
  rclcpp::Client<Srv>::SharedPtr client;
  try {
    client = node->create_client<Srv>(options.service);
  } catch (const std::invalid_argument & e) {  // a service name that is not a valid ROS name
    return UsageError(std::string("invalid service name '") + options.service + "': " + e.what());
  }

  if (!client->wait_for_service(options.timeout)) {
    if (!rclcpp::ok()) {
      PrintError("interrupted while waiting for service '" + options.service + "'");
      return data_center::cli::ExitStatusFor(CallOutcome::kInterrupted, 0);
    }
    PrintError("service '" + options.service + "' not available within " + Seconds(options));
    return data_center::cli::ExitStatusFor(CallOutcome::kNoService, 0);
  }

  auto request = std::make_shared<Srv::Request>();
  request->cmd_id = options.cmd_id;
  request->biz_data = payload;
  auto future = client->async_send_request(request);
  switch (rclcpp::spin_until_future_complete(node, future, options.timeout)) {
    case rclcpp::FutureReturnCode::SUCCESS:
      break;
    case rclcpp::FutureReturnCode::TIMEOUT:
      PrintError("no answer from service '" + options.service + "' within " + Seconds(options));
      return data_center::cli::ExitStatusFor(CallOutcome::kNoAnswer, 0);
    case rclcpp::FutureReturnCode::INTERRUPTED:
    default:
      PrintError("interrupted while waiting for the answer");
      return data_center::cli::ExitStatusFor(CallOutcome::kInterrupted, 0);
  }

  const auto response = future.get();
  data_center::cli::Answer answer;
  answer.code = response->code;
  answer.msg = response->msg;
  answer.payload.assign(response->biz_data.begin(), response->biz_data.end());
  const auto rendered = data_center::cli::RenderAnswer(answer, data_center::cli::AnswerKind(options.command),
                                                       options.output, options.quiet);
  std::cout << rendered.out << std::flush;
  if (!rendered.err.empty()) std::cerr << kProgram << ": " << rendered.err << std::flush;
  return data_center::cli::ExitStatusFor(CallOutcome::kAnswered, answer.code);
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

  const data_center::cli::ParseResult parsed = data_center::cli::ParseArguments(args);
  if (parsed.status == data_center::cli::ParseResult::kHelp) {
    std::cout << data_center::cli::UsageText();
    return data_center::cli::kExitOk;
  }
  if (parsed.status == data_center::cli::ParseResult::kUsageError) return UsageError(parsed.error);
  const Options & options = parsed.options;

  Bytes payload;
  std::string error;
  if (!BuildPayload(options, &payload, &error)) return UsageError(error);

  // A person or a script reads the client's standard error: the
  // middleware's notices are for --verbose.
  if (!options.verbose) data_center::cli::QuietMiddlewareNotices();
  try {
    rclcpp::init(argc, argv);
  } catch (const std::exception & e) {
    return UsageError(e.what());
  }
  if (!options.verbose) data_center::cli::QuietMiddlewareNotices();

  int status = data_center::cli::kExitFailure;
  try {
    status = Call(options, payload);
  } catch (const std::exception & e) {
    PrintError(std::string("error: ") + e.what());
    status = data_center::cli::kExitFailure;
  }
  rclcpp::shutdown();
  return status;
}
