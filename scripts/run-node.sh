#!/usr/bin/env bash
# Installs what is missing, builds, and starts the node in the foreground.
# Its working folder (where "StationInfo.conf" lives) is
# ${DATA_CENTER_WORKDIR:-/opt/korvane/data/data_center}. Arguments go to the
# node (for example --ros-args -r __ns:=/robot1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
workdir="${DATA_CENTER_WORKDIR:-/opt/korvane/data/data_center}"
mkdir -p "$workdir"
cd "$workdir"
exec "${BUILD_DIR:-$root/build}/bin/data_center" "$@"
