#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds the node and its client only, and starts
# the node in the foreground in ${DATA_CENTER_WORKDIR:-/opt/korvane/data/data_center},
# with the arguments given (for example --ros-args -r __ns:=/robot1). The
# compiler's output goes to build/run-node.log, shown when a step fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
# Debian's libraries, whatever the shell has sourced; the site's middleware
# settings stay.
leave_ros_install
build_dir="${BUILD_DIR:-$root/build}"
log="$build_dir/run-node.log"

step() {
  echo "run-node: $*"
}
failed() {
  echo "run-node: $1 failed; the end of $log:" >&2
  tail -n 40 "$log" >&2
  exit 1
}

step "[1/3] Debian packages (scripts/install-deps.sh)"
"$root/scripts/install-deps.sh"
mkdir -p "$build_dir"
step "[2/3] configuring $build_dir"
cmake -S "$root/standalone" --preset default -B "$build_dir" >"$log" 2>&1 || failed "configuring"
step "[3/3] building data_center and data_center_cli"
cmake --build "$build_dir" -j "$(nproc)" --target data_center data_center_cli >>"$log" 2>&1 ||
  failed "building"

workdir="${DATA_CENTER_WORKDIR:-/opt/korvane/data/data_center}"
mkdir -p "$workdir"
cd "$workdir"
step "starting $build_dir/bin/data_center in $workdir (Ctrl-C stops it)"
exec "$build_dir/bin/data_center" "$@"
