#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds what the benchmark needs (if anything changed) and runs it:
#   bench/run.sh [--quick] [other options of bench/run_bench.py]
# Build folder: ${BUILD_DIR:-<repo>/build}; results: <repo>/results/bench.
# The node gets a private /opt/korvane through test/support/data_center_hermetic:
# root, or an ordinary user where user namespaces are allowed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" python3-matplotlib
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$root/standalone" --preset default -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" -j "$(nproc)" --target data_center bench_client bench_echo_floor
# The build's ROS_DOMAIN_ID for the benchmark, apart from the tests' ids.
domain="$(awk '$1 == "bench" { print $2 }' "$build_dir/test_domains.txt")"
# The system interpreter: matplotlib comes from Debian.
exec /usr/bin/python3 "$root/bench/run_bench.py" --bin-dir "$build_dir/bin" --domain "$domain" "$@"
