#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the standalone build and its tests need, and
# those named; idempotent.
#
#   scripts/install-deps.sh [--arm64] [EXTRA_PACKAGE...]
#
# --arm64 adds Debian's arm64 architecture and the cross build's needs: the
# cross compiler, the libraries' arm64 builds, and qemu for its tests.
set -euo pipefail

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
arm64=0
for arg in "$@"; do
  case "$arg" in
    --arm64) arm64=1 ;;
    *) packages+=("$arg") ;;
  esac
done
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
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
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
