#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the robot packages and checks them as Debian packages, for each ROS
# 2 distribution installed (or those named):
#
#   scripts/test-debs.sh [DISTRO...]
#
# scripts/make-debs.sh makes them for this machine's architecture and, on
# x86-64 where /opt/ros/<distro>-arm64 is (required with
# DATA_CENTER_REQUIRE_ROBOT=1), cross-built for arm64. For each, lintian
# must report no error; each package and every ELF file inside must be for
# the architecture; the arm64 packages hold the amd64 ones' files. The arm64
# data_center with the amd64 node inside must fail. scripts/test-systemd.sh
# tests how they install and run. TEST_DEBS_REUSE=1 checks the packages
# already in DEBS_DIR (default build/debs). Exit status 77 when no
# distribution is installed, unless DATA_CENTER_REQUIRE_ROBOT=1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"

say() {
  echo "test-debs: $*"
}
fail() {
  echo "test-debs: FAIL: $*" >&2
  exit 1
}

distros=()
select_robot_distros "$@"

"$root/scripts/install-deps.sh" lintian

debs_root="${DEBS_DIR:-$root/build/debs}"
build_arch="$(dpkg --print-architecture)"
# The robot's processor, for which the packages are cross-built here.
cross_arch=""
[ "$build_arch" != amd64 ] || cross_arch=arm64

# check_arch ARCH DEB...: each package is for ARCH, by its Architecture
# field and its file name, and so is every ELF file in it, each program and
# library.
check_arch() {
  local arch="$1" machine deb tree f m elves
  shift
  case "$arch" in
    amd64) machine="Advanced Micro Devices X86-64" ;;
    arm64) machine=AArch64 ;;
    *) fail "no processor known for $arch" ;;
  esac
  for deb in "$@"; do
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] && [ "${deb%_"$arch".deb}" != "$deb" ] ||
      fail "$(basename "$deb") is not an $arch package (Architecture: $(dpkg-deb -f "$deb" Architecture))"
    tree="$t/$(basename "$deb").files"
    rm -rf "$tree" && dpkg-deb -x "$deb" "$tree"
    elves=0
    while IFS= read -r -d '' f; do
      m="$(readelf -h "$f" 2>/dev/null | sed -n 's/^ *Machine: *//p')" || true
      [ -n "$m" ] || continue
      [ "$m" = "$machine" ] || fail "$(basename "$deb"): ${f#"$tree"/} is for $m, not $machine"
      elves=$((elves + 1))
    done < <(find "$tree" -type f -print0)
    [ "$elves" -gt 0 ] || fail "$(basename "$deb") holds no program or library"
  done
}

# The files a package installs, the architecture's triplet in their paths
# (x86_64-linux-gnu, aarch64-linux-gnu) written <triplet>.
contents() {
  dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's/[a-z0-9_]*-linux-gnu/<triplet>/g' | sort
}

# check_packages ARCH DIR: the distribution's packages for ARCH in DIR.
# lintian reports no error on them, check_arch passes them, and for another
# architecture than this machine's they hold the same files as this
# machine's, in $out.
check_packages() {
  local arch="$1" dir="$2" kp dc pkg
  kp="$(echo "$dir"/ros-"$distro"-korvane-protocol_*.deb)"
  dc="$(echo "$dir"/ros-"$distro"-data-center_*.deb)"
  [ -f "$kp" ] && [ -f "$dc" ] || fail "no $arch packages for $distro in $dir"
  check_arch "$arch" "$kp" "$dc"
  if [ "$arch" != "$build_arch" ]; then
    for pkg in korvane-protocol data-center; do
      diff <(contents "$out"/ros-"$distro"-"$pkg"_*.deb) <(contents "$dir"/ros-"$distro"-"$pkg"_*.deb) ||
        fail "ros-$distro-$pkg for $arch holds other files than for $build_arch (above: < $build_arch, > $arch)"
    done
  fi
  lintian --no-cfg "$kp" "$dc" >"$dir/lintian.txt" 2>&1 || true
  if grep -q '^E: ' "$dir/lintian.txt"; then
    cat "$dir/lintian.txt" >&2
    fail "lintian reports errors on the $distro $arch packages"
  fi
  say "$distro $arch: every program and library for $arch$([ "$arch" = "$build_arch" ] || echo ", the files of the $build_arch packages");" \
    "lintian: no error, $(grep -c '^W: ' "$dir/lintian.txt") warnings:"
  sed -n 's/^W: /  /p' "$dir/lintian.txt"
  say "$distro $arch: packages: $(du -k "$kp" | cut -f1) kB, $(du -k "$dc" | cut -f1) kB"
}

notes=()
for distro in "${distros[@]}"; do
  start=$(date +%s)
  if [ "${TEST_DEBS_REUSE:-0}" != 1 ]; then
    DEBS_DIR="$debs_root" "$root/scripts/make-debs.sh" "$distro"
  fi
  out="$debs_root/$distro"
  kp="$(echo "$out"/ros-"$distro"-korvane-protocol_*.deb)"
  dc="$(echo "$out"/ros-"$distro"-data-center_*.deb)"
  [ -f "$kp" ] && [ -f "$dc" ] || fail "make-debs.sh made no packages for $distro"

  # The robot's packages are made while this machine's are checked.
  cross_out=""
  cross_pid=""
  if [ -n "$cross_arch" ] && [ ! -f "/opt/ros/$distro-$cross_arch/setup.sh" ]; then
    [ "${DATA_CENTER_REQUIRE_ROBOT:-0}" != 1 ] || fail "ROS 2 $distro for $cross_arch is required here: no /opt/ros/$distro-$cross_arch"
    say "no /opt/ros/$distro-$cross_arch: no $cross_arch packages for $distro"
  elif [ -n "$cross_arch" ]; then
    cross_out="$debs_root/$distro-$cross_arch"
    if [ "${TEST_DEBS_REUSE:-0}" != 1 ]; then
      (
        cross_start=$(date +%s)
        DEBS_DIR="$debs_root" "$root/scripts/make-debs.sh" --arch "$cross_arch" "$distro"
        echo "made in $(($(date +%s) - cross_start)) s"
      ) >"$debs_root/make-$distro-$cross_arch.log" 2>&1 &
      cross_pid=$!
    fi
  fi
  t="$out/test"
  rm -rf "$t"
  mkdir -p "$t"
  check_packages "$build_arch" "$out"
  note="$distro $(($(date +%s) - start)) s"

  if [ -n "$cross_out" ]; then
    if [ -n "$cross_pid" ]; then
      wait "$cross_pid" || {
        cat "$debs_root/make-$distro-$cross_arch.log" >&2
        fail "make-debs.sh --arch $cross_arch failed for $distro"
      }
      cat "$debs_root/make-$distro-$cross_arch.log"
      note="$note, $cross_arch $(sed -n 's/^made in //p' "$debs_root/make-$distro-$cross_arch.log")"
    fi
    check_packages "$cross_arch" "$cross_out"
    # The check must catch a program for the wrong processor: the robot's
    # data_center with this machine's node in place of its own.
    cross_dc="$(echo "$cross_out"/ros-"$distro"-data-center_*.deb)"
    node="opt/ros/$distro/lib/data_center/data_center"
    dpkg-deb -R "$cross_dc" "$t/tree"
    dpkg-deb --fsys-tarfile "$dc" | tar -xO "./$node" >"$t/tree/$node"
    sed -i "\\|$node\$|d" "$t/tree/DEBIAN/md5sums"
    dpkg-deb --root-owner-group -b "$t/tree" "$t/$(basename "$cross_dc")" >/dev/null
    if (check_arch "$cross_arch" "$t/$(basename "$cross_dc")") >"$t/wrong-arch.log" 2>&1; then
      fail "$distro: the check passed a $cross_arch package with the $build_arch node inside"
    fi
    grep -qF "$node is for Advanced Micro Devices X86-64, not AArch64" "$t/wrong-arch.log" || {
      cat "$t/wrong-arch.log" >&2
      fail "$distro: the $cross_arch package with the $build_arch node failed the check, but not for that reason"
    }
    say "$distro: wrong-arch fails it: $(grep -F 'FAIL' "$t/wrong-arch.log" | head -n 1)"
  fi
  say "$distro: passed in $(($(date +%s) - start)) s"
  notes+=("$note")
done
# For scripts/test.sh's summary line.
[ -z "${SECTION_NOTE:-}" ] || echo "${notes[*]}" >"$SECTION_NOTE"
