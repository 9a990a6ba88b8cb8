# SPDX-License-Identifier: Apache-2.0
# Sourced by the scripts: the ROS 2 environment. The standalone build uses
# Debian's ament, rosidl and libraries, which a sourced ROS 2 install would
# mix with its own (through PATH, PYTHONPATH, LD_LIBRARY_PATH); the first
# functions take it out. Then the robot's distributions.

# Whether folder $1 lies in a ROS 2 install: under one of the prefixes the
# sourced setup files listed (passed as $2, colon-separated), or under a
# prefix with a colcon/ament local_setup.sh, which is how /opt/ros/humble/bin
# is recognised once the variables are gone.
_ros_environment_in_install() {
  local dir="$1" prefixes="$2" prefix
  local IFS=:
  for prefix in $prefixes; do
    case "$prefix" in "" | / | /usr | /usr/ | /usr/local | /usr/local/) continue ;; esac
    case "$dir/" in "${prefix%/}/"*) return 0 ;; esac
  done
  prefix="$dir"
  while [ "$prefix" != / ] && [ "$prefix" != . ] && [ -n "$prefix" ]; do
    [ -f "$prefix/local_setup.sh" ] && return 0
    prefix="$(dirname "$prefix")"
  done
  return 1
}

# Leaves a sourced ROS 2 install out of this shell: its folders taken out of
# the search paths, its identifying variables unset. The site's middleware
# settings (ROS_DOMAIN_ID and the like) stay. Harmless without ROS 2.
leave_ros_install() {
  local prefixes="${AMENT_PREFIX_PATH:-}:${COLCON_PREFIX_PATH:-}" var entry kept
  local IFS=:
  for var in PATH LD_LIBRARY_PATH PYTHONPATH CMAKE_PREFIX_PATH PKG_CONFIG_PATH; do
    kept=""
    for entry in ${!var:-}; do
      if [ -n "$entry" ] && ! _ros_environment_in_install "$entry" "$prefixes"; then
        kept="${kept:+$kept:}$entry"
      fi
    done
    if [ -n "$kept" ]; then
      export "$var=$kept"
    else
      unset "$var"
    fi
  done
  unset AMENT_PREFIX_PATH AMENT_CURRENT_PREFIX COLCON_PREFIX_PATH COLCON_CURRENT_PREFIX \
    ROS_DISTRO ROS_VERSION ROS_PYTHON_VERSION ROS_ETC_DIR ROS_PACKAGE_PATH
}

# Loopback only, in the variable ROS 2 distribution $1 reads: Humble's
# ROS_LOCALHOST_ONLY=1; from Jazzy on ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST
# with ROS_LOCALHOST_ONLY unset, since rcl warns at every init whenever that
# is set at all. loopback_only_exports prints it as lines of a script.
loopback_only_exports() {
  case "$1" in
    foxy | galactic | humble) echo "export ROS_LOCALHOST_ONLY=1; unset ROS_AUTOMATIC_DISCOVERY_RANGE" ;;
    *) echo "unset ROS_LOCALHOST_ONLY; export ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST" ;;
  esac
}
loopback_only() {
  eval "$(loopback_only_exports "$1")"
}

# For the standalone build's tests: no ROS 2 install, and none of the
# middleware settings a shell may carry (a sourced setup.bash sets
# ROS_LOCALHOST_ONLY=0); the tests give every program its domain.
leave_ros() {
  leave_ros_install
  unset RMW_IMPLEMENTATION ROS_LOCALHOST_ONLY ROS_AUTOMATIC_DISCOVERY_RANGE ROS_STATIC_PEERS ROS_DOMAIN_ID ROS_SECURITY_ENABLE ROS_SECURITY_STRATEGY \
    ROS_SECURITY_KEYSTORE ROS_SECURITY_ENCLAVE_OVERRIDE ROS_LOG_DIR CYCLONEDDS_URI \
    FASTRTPS_DEFAULT_PROFILES_FILE FASTDDS_DEFAULT_PROFILES_FILE
}

# Runs a command as leave_ros leaves the environment.
without_ros() {
  (
    leave_ros
    exec "$@"
  )
}

# The ROS 2 distributions the robot is built and packaged for, oldest first.
# shellcheck disable=SC2034 # read by the scripts that source this
robot_distros=(humble jazzy)

# The distributions a robot script runs on, into the array `distros`: those
# named as arguments, else robot_distros; each must be installed in /opt/ros
# (as /opt/ros/<distro>$ros_suffix, such as -arm64, when that is set). One
# not installed fails when named or DATA_CENTER_REQUIRE_ROBOT=1, and is
# skipped otherwise; none at all exits 77 (skipped). Calls the calling
# script's own say and fail.
select_robot_distros() {
  local d wanted=("$@")
  [ "$#" -gt 0 ] || wanted=("${robot_distros[@]}")
  distros=()
  for d in "${wanted[@]}"; do
    if [ -f "/opt/ros/$d${ros_suffix:-}/setup.sh" ]; then
      distros+=("$d")
    elif [ "$#" -gt 0 ] || [ "${DATA_CENTER_REQUIRE_ROBOT:-0}" = 1 ]; then
      fail "ROS 2 $d is required here and /opt/ros/$d${ros_suffix:-} is not installed"
    else
      say "no /opt/ros/$d${ros_suffix:-}: $d skipped"
    fi
  done
  [ "${#distros[@]}" -gt 0 ] || {
    say "no ROS 2 distribution installed: skipped"
    exit 77
  }
}
