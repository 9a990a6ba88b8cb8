#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Configures and builds the standalone tree into ${BUILD_DIR:-build}.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros_install
build_dir="${BUILD_DIR:-$root/build}"
cmake -S "$root/standalone" --preset default -B "$build_dir" "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
