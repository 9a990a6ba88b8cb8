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
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_options.hpp"
#include "cli_payload.hpp"
#include "korvane_protocol/srv/data_center_srv.hpp"
#include "middleware_notices.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

namespace cli = data_center::cli;
using Srv = korvane_protocol::srv::DataCenterSrv;

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

// The request payload, read and encoded before any middleware starts so that
// input errors are reported without waiting on the network.
bool BuildPayload(const cli::Options & options, cli::Bytes * payload, std::string * error) {
  if (options.command == cli::Command::kSetStations) {
    std::string text;
    if (!cli::ReadInput(options.input_path, &text, error)) return false;
    data_center::BaseStationInfo stations;
    if (!cli::ParseStationList(text, options.input_format, &stations, error)) {
      *error = (options.input_path == "-" ? std::string("standard input") : "'" + options.input_path + "'") +
               ": " + *error;
      return false;
    }
    if (!cli::SerializeMessage(stations, payload)) {
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
  if (options.command == cli::Command::kCall && !options.input_path.empty()) {
    std::string raw;
    if (!cli::ReadInput(options.input_path, &raw, error)) return false;
    payload->assign(raw.begin(), raw.end());
    return true;
  }
  *payload = options.payload;  // hex of call; empty for the other commands
  return true;
}

int Call(const cli::Options & options, const cli::Bytes & payload) {
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
      return cli::ExitStatusFor(cli::CallOutcome::kInterrupted, 0);
    }
    PrintError("service '" + options.service + "' not available within " + Seconds(options));
    return cli::ExitStatusFor(cli::CallOutcome::kNoService, 0);
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
      return cli::ExitStatusFor(cli::CallOutcome::kNoAnswer, 0);
    case rclcpp::FutureReturnCode::INTERRUPTED:
    default:
      PrintError("interrupted while waiting for the answer");
      return cli::ExitStatusFor(cli::CallOutcome::kInterrupted, 0);
  }

  const auto response = future.get();
  cli::Answer answer;
  answer.code = response->code;
  answer.msg = response->msg;
  answer.payload.assign(response->biz_data.begin(), response->biz_data.end());
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

  cli::Bytes payload;
  std::string error;
  if (!BuildPayload(options, &payload, &error)) return UsageError(error);

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
    status = Call(options, payload);
  } catch (const std::exception & e) {
    PrintError(std::string("error: ") + e.what());
    status = cli::kExitFailure;
  }
  rclcpp::shutdown();
  return status;
}
