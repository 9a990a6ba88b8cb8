#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the standalone build and its tests need, and
# the protobuf runtime of the robot build's Python package.
# Idempotent: does nothing when everything is there already.
#
#   scripts/install-deps.sh [--arm64] [EXTRA_PACKAGE...]
#
# --arm64 also adds Debian's arm64 architecture and installs what the cross
# build for the robot needs (preset arm64, standalone/cmake/toolchain-arm64.cmake):
# the cross compiler, the arm64 builds of the libraries, and qemu to run its
# tests. The code generators (protoc, rosidl) stay the host's.
set -euo pipefail

arm64=0
extra=()
for arg in "$@"; do
  case "$arg" in
    --arm64) arm64=1 ;;
    *) extra+=("$arg") ;;
  esac
done

packages=(
  cmake g++ make pkg-config
  libprotobuf-dev protobuf-compiler
  libspdlog-dev libfmt-dev
  libboost-filesystem-dev
  cyclonedds-dev
  libyaml-dev
  ament-cmake python3-ament-package
  rosidl-core rosidl-cmake rosidl-generator-c-cpp
  librosidl-runtime-c-cpp-dev librosidl-typesupport-introspection-c-cpp-dev
  googletest libgtest-dev libgmock-dev
  util-linux faketime openssl
  systemd
  python3-protobuf # the robot build's Python package: data_center.payloads
)
if [ "$arm64" -eq 1 ]; then
  packages+=(
    crossbuild-essential-arm64 qemu-user-static
    libprotobuf-dev:arm64 libspdlog-dev:arm64 libfmt-dev:arm64
    libboost-filesystem-dev:arm64
    cyclonedds-dev:arm64 libyaml-dev:arm64
    librcutils-dev:arm64 librosidl-runtime-c-cpp-dev:arm64
    librosidl-typesupport-introspection-c-cpp-dev:arm64
    libgtest-dev:arm64 libgmock-dev:arm64
  )
fi
if [ "${#extra[@]}" -gt 0 ]; then
  packages+=("${extra[@]}")
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
# A new architecture has no package lists yet: dpkg-query below then finds
# nothing installed, and the update before installing fetches them.
if [ "$arm64" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "adding the arm64 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
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
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
