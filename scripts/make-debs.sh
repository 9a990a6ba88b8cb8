#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Makes the robot packages as Debian packages, with bloom, for each ROS 2
# distribution installed of robot_distros (/opt/ros/humble, /opt/ros/jazzy), for this
# machine's system (Debian 12 here, or the robot's Ubuntu) and architecture:
# ros-<distro>-korvane-protocol and ros-<distro>-data-center, their versions
# those of the package.xml files.
#
#   scripts/make-debs.sh [DISTRO...]          (default: every one installed)
#
# The packages go to DEBS_DIR/<distro>/ (default build/debs); what bloom
# generates (debian/) is made there too, in a copy of each package, never in
# the source tree. DEB_INC=N makes Debian revision N (default 0), as bloom's
# --debian-inc. Offline: rosdep reads only packaging/rosdep/, and bloom the
# rosdistro index packaging/rosdistro/. packaging/<package>/ holds what is
# added to bloom's debian/: lintian overrides that say why, and for
# data_center, whose package carries the system service, what installs it.
#
# data_center is built against the korvane_protocol package just made,
# unpacked into the build folder and named by CMAKE_PREFIX_PATH and
# AMENT_PREFIX_PATH: installing it would change the machine's
# /opt/ros/<distro>, which on a build machine like this one is shared and not
# made of packages.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
debs_dir="${DEBS_DIR:-$root/build/debs}"
deb_inc="${DEB_INC:-0}"
# shellcheck source=lib/ros_environment.bash
. "$root/scripts/lib/ros_environment.bash"

say() {
  echo "make-debs: $*"
}
fail() {
  echo "make-debs: $*" >&2
  exit 1
}

distros=("$@")
if [ "${#distros[@]}" -eq 0 ]; then
  for d in "${robot_distros[@]}"; do
    [ ! -f "/opt/ros/$d/setup.sh" ] || distros+=("$d")
  done
  [ "${#distros[@]}" -gt 0 ] || fail "no ROS 2 distribution installed (/opt/ros/humble, /opt/ros/jazzy)"
fi
for d in "${distros[@]}"; do
  [ -f "/opt/ros/$d/setup.sh" ] || fail "no /opt/ros/$d/setup.sh: ROS 2 ${d} is not installed"
  [ -f "$root/packaging/rosdep/$d.yaml" ] || fail "no packaging/rosdep/$d.yaml: no rosdep rules for $d"
done
[[ "$deb_inc" =~ ^[0-9]+$ ]] || fail "DEB_INC must be a number, not '$deb_inc'"
# The packages are made for the system this runs on: Debian 12 (bookworm),
# or the robot's Ubuntu (jammy for Humble, noble for Jazzy).
os_name="$(. /etc/os-release && echo "$ID")"
os_version="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
case "$os_name" in
  debian | ubuntu) ;;
  *) fail "made on Debian or Ubuntu only, not on '$os_name'" ;;
esac

"$root/scripts/install-deps.sh" python3-bloom python3-rosdep2 debhelper dpkg-dev fakeroot \
  libboost-system-dev

# bloom and rosdep are Debian's, for Debian's python3; the distribution's
# setup.sh is sourced by debian/rules itself.
leave_ros
export PATH="/usr/bin:$PATH"
export DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2"
unset DEB_BUILD_PROFILES

# make_one DISTRO PACKAGE WORK: bloom's debian/ in a copy of the package,
# then the binary package, in WORK.
make_one() {
  local distro="$1" pkg="$2" work="$3" src="$3/$2" start log
  start=$(date +%s)
  cp -a "$root/$pkg" "$src"
  rm -rf "$src/debian"
  log="$work/$pkg.log"
  (cd "$src" && bloom-generate rosdebian --ros-distro "$distro" --os-name "$os_name" --os-version "$os_version" \
    --debian-inc "$deb_inc") >"$log" 2>&1 || {
    cat "$log" >&2
    fail "bloom-generate failed for $pkg on $distro"
  }
  install -m 644 "$root/packaging/$pkg/lintian-overrides" "$src/debian/lintian-overrides"
  if [ "$pkg" = data_center ]; then
    # Debhelper's compat level 13 for dh_installsystemd and
    # dh_installtmpfiles in its sequence (bloom writes 9).
    echo 13 >"$src/debian/compat"
    sed -i 's/debhelper (>= [0-9.]*)/debhelper (>= 13.1)/' "$src/debian/control"
    cat "$root/packaging/data_center/rules.mk" >>"$src/debian/rules"
    # The fields of packaging/data_center/control.fields, in the binary
    # package's stanza, right after its Package: line; @OTHER_DISTROS@
    # names the package of every other distribution of robot_distros.
    local others="" d
    for d in "${robot_distros[@]}"; do
      [ "$d" = "$distro" ] || others+=", ros-$d-data-center"
    done
    grep -v '^#' "$root/packaging/data_center/control.fields" | sed "s/@OTHER_DISTROS@/$others/" >"$work/control.fields"
    sed -i "/^Package: ros-$distro-data-center\$/r $work/control.fields" "$src/debian/control"
    grep -q '^Provides: ' "$src/debian/control" || fail "no binary package stanza in bloom's debian/control"
    ! grep -q '@' "$work/control.fields" || fail "packaging/data_center/control.fields: a placeholder left unknown"
    install -m 755 "$root/packaging/data_center/postrm" "$src/debian/postrm"
  fi
  # Where the distribution's Fast DDS is an overlay of its prefix (this
  # machine's /opt/ros/<distro>_fastdds), the build sees both, as one prefix
  # has both on a robot: korvane_protocol then carries Fast DDS type
  # support, without which a node on rmw_fastrtps_cpp cannot serve its type.
  local overlay="/opt/ros/${distro}_fastdds"
  if [ -f "$overlay/setup.sh" ]; then
    sed -i "s|-DAMENT_PREFIX_PATH=\"/opt/ros/$distro\"|-DAMENT_PREFIX_PATH=\"/opt/ros/$distro;$overlay\"|" \
      "$src/debian/rules"
    grep -qF "$overlay" "$src/debian/rules" || fail "bloom's debian/rules sets no AMENT_PREFIX_PATH"
    # The overlay is not made of packages: dpkg-shlibdeps finds no
    # dependency information for its libraries (Fast-CDR). On a robot they
    # come from the distribution's packages, which package.xml names.
    sed -i 's|^\(\s*dh_shlibdeps -l.*\)$|\1 -- --ignore-missing-info|' "$src/debian/rules"
    grep -q -- '--ignore-missing-info' "$src/debian/rules" || fail "bloom's debian/rules runs no dh_shlibdeps"
  fi
  (
    set +u
    # shellcheck disable=SC1091
    if [ -f "$overlay/setup.sh" ]; then . "$overlay/setup.sh"; fi
    # The prefix's rmw_implementation was built for its default middleware
    # alone, and refuses to configure when another one is the default.
    if [ -f "$overlay/setup.sh" ]; then export RMW_IMPLEMENTATION=rmw_cyclonedds_cpp; fi
    cd "$src" && dpkg-buildpackage -b -d -us -uc
  ) >>"$log" 2>&1 || {
    tail -n 60 "$log" >&2
    fail "dpkg-buildpackage failed for $pkg on $distro (log: $log)"
  }
  say "$distro: $pkg built in $(($(date +%s) - start)) s"
}

for distro in "${distros[@]}"; do
  out="$debs_dir/$distro"
  work="$out/work"
  rm -rf "$out"
  mkdir -p "$work/rosdep/sources.list.d" "$work/ros_home" "$work/stage"
  cat >"$work/rosdep/sources.list.d/50-data-center.list" <<EOF
yaml file://$root/packaging/rosdep/system.yaml
yaml file://$root/packaging/rosdep/$distro.yaml
EOF
  export ROSDEP_SOURCE_PATH="$work/rosdep/sources.list.d" ROS_HOME="$work/ros_home"
  export ROSDISTRO_INDEX_URL="file://$root/packaging/rosdistro/index-v4.yaml"
  rosdep update --rosdistro "$distro" >"$work/rosdep.log" 2>&1 || {
    cat "$work/rosdep.log" >&2
    fail "rosdep update failed for $distro"
  }

  make_one "$distro" korvane_protocol "$work"
  kp_deb="$(echo "$work"/ros-"$distro"-korvane-protocol_*.deb)"
  [ -f "$kp_deb" ] || fail "no ros-$distro-korvane-protocol package in $work"
  dpkg-deb -x "$kp_deb" "$work/stage"
  (
    export CMAKE_PREFIX_PATH="$work/stage/opt/ros/$distro"
    export AMENT_PREFIX_PATH="$work/stage/opt/ros/$distro"
    export LD_LIBRARY_PATH="$work/stage/opt/ros/$distro/lib"
    make_one "$distro" data_center "$work"
  )
  mv "$work"/ros-"$distro"-*.deb "$out/"
  rm -rf "$work/korvane_protocol" "$work/data_center" "$work/stage"
  say "$distro: $(cd "$out" && echo ./*.deb)"
done
