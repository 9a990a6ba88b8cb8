#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Tests the robot build, on a machine where ROS 2 Humble is installed and its
# setup.bash sourced (this script builds no ROS 2):
#   1. builds data_center and korvane_protocol in a temporary colcon workspace;
#   2. runs their `colcon test` and prints the result;
#   3. runs the standalone build's whole-system suite (ctest -L e2e) against
#      the robot build's node, started through its installed launcher.
#
#   scripts/test-robot-build.sh [STANDALONE_BUILD_DIR]     (default build/)
#
# The standalone build is made first when it is missing, with ROS 2's
# variables taken out of its environment (it uses Debian's packages). The
# suite's client uses Cyclone DDS, so the node runs on rmw_cyclonedds_cpp
# there; `colcon test` takes RMW_IMPLEMENTATION from the caller, so run the
# script once per middleware to test each. KEEP_WORKSPACE=1 keeps the
# workspace. The exit status is non-zero when any step failed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$root/build}"

fail() {
  echo "test-robot-build: $*" >&2
  exit 2
}
[ -n "${ROS_DISTRO:-}" ] || fail "no ROS 2 in this shell: source its setup.bash first"
[ "$ROS_DISTRO" = humble ] || echo "test-robot-build: ROS_DISTRO is $ROS_DISTRO; the robot runs humble" >&2
command -v colcon >/dev/null || fail "colcon is missing"

# Readable to the other user some whole-system tests start the node as.
ws="$(mktemp -d /tmp/data_center_robot_ws.XXXXXX)" || fail "cannot make a workspace"
chmod 755 "$ws"
if [ "${KEEP_WORKSPACE:-0}" = 1 ]; then
  echo "workspace: $ws"
else
  trap 'rm -rf "$ws"' EXIT
fi
mkdir "$ws/src"
ln -s "$root" "$ws/src/data_center"

status=0
step() {
  echo
  echo "== $*"
}

step "colcon build (RMW_IMPLEMENTATION=${RMW_IMPLEMENTATION:-default})"
(cd "$ws" && colcon build --event-handlers console_cohesion- --cmake-args -DBUILD_TESTING=ON) ||
  fail "colcon build failed"

step "colcon test"
(cd "$ws" && colcon test --event-handlers console_cohesion-) || status=1
(cd "$ws" && colcon test-result --verbose) || status=1

step "standalone whole-system suite against the robot build's node"
# The standalone build and its tests run without ROS 2's variables: sourcing
# ROS 2 sets ROS_LOCALHOST_ONLY=0, which would take the suite's own nodes and
# clients off loopback.
without_ros() {
  env -u AMENT_PREFIX_PATH -u CMAKE_PREFIX_PATH -u COLCON_PREFIX_PATH -u LD_LIBRARY_PATH -u PYTHONPATH \
    -u ROS_DISTRO -u ROS_VERSION -u ROS_PYTHON_VERSION -u RMW_IMPLEMENTATION -u ROS_LOCALHOST_ONLY \
    -u ROS_DOMAIN_ID -u ROS_SECURITY_ENABLE -u ROS_SECURITY_STRATEGY -u ROS_SECURITY_KEYSTORE \
    -u ROS_SECURITY_ENCLAVE_OVERRIDE -u CYCLONEDDS_URI "$@"
}
if [ ! -f "$build_dir/CTestTestfile.cmake" ]; then
  echo "building the standalone tree in $build_dir"
  without_ros BUILD_DIR="$build_dir" "$root/scripts/build.sh" || fail "standalone build failed"
fi
# The suite gives each node its ROS_DOMAIN_ID; rcl needs a log folder that
# the suite's other user can write too.
mkdir -m 1777 "$ws/ros_log"
launcher="$ws/install/data_center/lib/data_center/data_center_start"  # colcon's default, isolated
[ -x "$launcher" ] || launcher="$ws/install/lib/data_center/data_center_start"
cat >"$ws/robot_node" <<EOF
#!/bin/sh
export ROS_LOCALHOST_ONLY=1 RMW_IMPLEMENTATION=rmw_cyclonedds_cpp ROS_LOG_DIR="$ws/ros_log"
exec "$launcher" "\$@"
EOF
chmod 755 "$ws/robot_node"
# test_running_node starts the standalone node; colcon test ran its robot twin.
(cd "$build_dir" && without_ros DATA_CENTER_TEST_NODE="$ws/robot_node" DATA_CENTER_TEST_NODE_BUILD=robot \
  ctest -L e2e -E '^test_running_node$' --output-on-failure -j "$(nproc)" --timeout 300) || status=1

exit "$status"
