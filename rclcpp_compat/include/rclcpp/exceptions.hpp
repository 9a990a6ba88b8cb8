// SPDX-License-Identifier: Apache-2.0
#ifndef RCLCPP__EXCEPTIONS_HPP_
#define RCLCPP__EXCEPTIONS_HPP_

#include <stdexcept>
#include <string>
#include <vector>

namespace rclcpp {
namespace exceptions {

// Arguments inside a --ros-args block that no ROS 2 tool knows.
class UnknownROSArgsError : public std::runtime_error {
 public:
  explicit UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in);
  const std::vector<std::string> unknown_ros_args;
};

// Known ROS arguments that are malformed (a flag without its value, a remap
// rule without ":=", ...).
class RCLInvalidROSArgsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Any other failure of the client library (middleware errors, bad names).
class RCLError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A parameter value that cannot be used: here, an override that names no
// value (an empty YAML sequence).
class InvalidParameterValueException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A parameter override of the wrong type for a statically typed parameter.
class InvalidParameterTypeException : public std::runtime_error {
 public:
  InvalidParameterTypeException(const std::string & name, const std::string message)
      : std::runtime_error("parameter '" + name + "' has invalid type: " + message) {}
};

class InvalidNodeNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class InvalidNamespaceError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class InvalidServiceNameError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace exceptions
}  // namespace rclcpp

#endif  // RCLCPP__EXCEPTIONS_HPP_
