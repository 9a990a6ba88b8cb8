#!/usr/bin/env bash
# Installs the Debian packages the standalone build and its tests need.
# Idempotent: does nothing when everything is there already.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libprotobuf-dev protobuf-compiler
  libspdlog-dev libfmt-dev
  libboost-filesystem-dev
  cyclonedds-dev cyclonedds-tools
  ament-cmake python3-ament-package
  rosidl-core rosidl-cmake rosidl-generator-c-cpp
  librosidl-runtime-c-cpp-dev librosidl-typesupport-introspection-c-cpp-dev
  googletest libgtest-dev libgmock-dev
  util-linux faketime
)
if [ "$#" -gt 0 ]; then
  packages+=("$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
