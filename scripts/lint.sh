#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Static checks of the project's own C++: formatting (clang-format, the
# repository's .clang-format) and clang-tidy (the checked-in .clang-tidy) on
# the node, the clients and the standalone layer.
#
#   scripts/lint.sh [BUILD_DIR]     (default build/; needs its compile_commands.json)
#
# Fails on any formatting difference or clang-tidy finding. Fix formatting with
#   clang-format -i <files>
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"
leave_ros
build_dir="${1:-$root/build}"
cd "$root"

"$root/scripts/install-deps.sh" clang-format clang-tidy

mapfile -t sources < <(git ls-files '*.cpp' '*.hpp' '*.h' '*.c')
echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

if [ ! -f "$build_dir/compile_commands.json" ]; then
  echo "no $build_dir/compile_commands.json: configure with the default preset first" >&2
  exit 2
fi
mapfile -t tidy_sources < <(git ls-files 'data_center/src/*.cpp' 'data_center/client/*.cpp' 'data_center/tools/*.cpp' 'rclcpp_compat/src/*.cpp')
echo "clang-tidy: ${#tidy_sources[@]} files"
printf '%s\n' "${tidy_sources[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build_dir" --quiet 2>/dev/null
echo "lint: clean"
