// SPDX-License-Identifier: Apache-2.0
// The middleware's own notices on the client's terminal.
#ifndef DATA_CENTER__TOOLS__MIDDLEWARE_NOTICES_HPP_
#define DATA_CENTER__TOOLS__MIDDLEWARE_NOTICES_HPP_

namespace data_center {
namespace cli {

// Keeps Cyclone DDS's warnings and informational lines (for example "selected
// interface "lo" is not multicast-capable") off standard error; its errors
// still show, and so does whatever CYCLONEDDS_URI's Tracing section asks for.
// Cyclone is looked up in the running process, so this works with the
// standalone layer and with a ROS 2 middleware that loads Cyclone, and does
// nothing with any other. Call it before rclcpp::init (the standalone layer
// links Cyclone) and again after it (a ROS 2 rmw is loaded by init).
void QuietMiddlewareNotices();

}  // namespace cli
}  // namespace data_center

#endif  // DATA_CENTER__TOOLS__MIDDLEWARE_NOTICES_HPP_
