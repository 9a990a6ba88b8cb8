// SPDX-License-Identifier: Apache-2.0
// SIGINT and SIGTERM shut the default context down: a handler that only
// writes to a pipe, and a thread that turns the byte into a shutdown outside
// signal context.
#ifndef RCLCPP_COMPAT__CONTEXT__SIGNALS_HPP_
#define RCLCPP_COMPAT__CONTEXT__SIGNALS_HPP_

namespace rclcpp_compat {

void install_signal_handlers(bool sigint, bool sigterm);
void uninstall_signal_handlers();

}  // namespace rclcpp_compat

#endif  // RCLCPP_COMPAT__CONTEXT__SIGNALS_HPP_
