// SPDX-License-Identifier: Apache-2.0
// data_center_rmw: prints the identifier of the middleware (rmw
// implementation) that a node started in this environment loads, such as
// rmw_fastrtps_cpp, chosen as rmw_implementation chooses it for the node:
// RMW_IMPLEMENTATION when set, else the default this ROS 2 was built with,
// else the first that loads. data_center_start asks it before it sets up the
// middleware. Exit status 1, with rmw's reason, when none loads.
#include <cstdio>

#include <rmw/error_handling.h>
#include <rmw/rmw.h>

int main() {
  const char * identifier = rmw_get_implementation_identifier();
  if (identifier == nullptr) {
    std::fprintf(stderr, "data_center_rmw: no middleware loads: %s\n", rmw_get_error_string().str);
    return 1;
  }
  std::printf("%s\n", identifier);
  return 0;
}
