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
# A file found clean is remembered under the hash of what clang-tidy reads:
# its preprocessed text, the compile command, .clang-tidy and the tool's
# version. A later run, from any clone, checks only what changed.
tidy_cache="${DATA_CENTER_CACHE:-$build_dir}/clang-tidy"
mkdir -p "$tidy_cache"
mapfile -t to_check < <(/usr/bin/python3 - "$build_dir/compile_commands.json" "$tidy_cache" "${tidy_sources[@]}" <<'PY'
import hashlib, json, os, shlex, subprocess, sys
commands = {os.path.realpath(e["file"]): e for e in json.load(open(sys.argv[1]))}
common = open(".clang-tidy", "rb").read() + subprocess.run(["clang-tidy", "--version"], capture_output=True).stdout
for source in sys.argv[3:]:
    entry = commands.get(os.path.realpath(source))
    key = "none"
    if entry:
        args = shlex.split(entry["command"])
        args = [a for i, a in enumerate(args) if a != "-o" and (i == 0 or args[i - 1] != "-o")]
        text = subprocess.run(args + ["-E", "-P", "-C", "-o", "-"], cwd=entry["directory"], capture_output=True).stdout
        here = os.getcwd()  # the clone's own path is not what is checked
        key = hashlib.sha256(common + entry["command"].replace(here, "").encode() + text.replace(here.encode(), b"")).hexdigest()
    if not os.path.exists(os.path.join(sys.argv[2], key)):
        print(source + " " + key)
PY
)
echo "clang-tidy: ${#tidy_sources[@]} files, $((${#tidy_sources[@]} - ${#to_check[@]})) unchanged since found clean"
if [ "${#to_check[@]}" -gt 0 ]; then
  # shellcheck disable=SC2016 # expanded by the inner shell
  printf '%s\n' "${to_check[@]}" |
    xargs -P "$(nproc)" -L 1 sh -c 'clang-tidy -p "$0" --quiet "$2" 2>/dev/null && touch "$1/$3"' "$build_dir" "$tidy_cache"
fi
echo "lint: clean"
