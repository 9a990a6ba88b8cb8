// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__UTILITIES_HPP_
#define RCLCPP__UTILITIES_HPP_

#include <memory>
#include <string>
#include <vector>

namespace rclcpp {

class Context;

class InitOptions {
 public:
  InitOptions() = default;
};

enum class SignalHandlerOptions { All, SigInt, SigTerm, None };

// Starts the default context: parses --ros-args blocks (throws
// exceptions::UnknownROSArgsError / RCLInvalidROSArgsError) and installs the
// signal handlers chosen.
void init(int argc, char const * const * argv, const InitOptions & init_options = InitOptions(),
          SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

// True while the default context is initialised and not shut down.
bool ok(std::shared_ptr<Context> context = nullptr);

// Shuts the context down and wakes every spin; harmless when already done.
bool shutdown(std::shared_ptr<Context> context = nullptr,
              const std::string & reason = "user called rclcpp::shutdown()");

// argv without --ros-args blocks.
std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv);

}  // namespace rclcpp

#endif  // RCLCPP__UTILITIES_HPP_
