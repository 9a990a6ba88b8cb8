# SPDX-License-Identifier: Apache-2.0
# This build uses Debian's ament, rosidl and libraries. A ROS 2 install in the
# environment would be mixed into it: found first by find_package, imported
# by the rosidl generators at build time, loaded by the programs at run time.
# A shell with ROS 2 sourced is refused; the scripts leave ROS 2 out
# (scripts/lib/ros_environment.bash).
foreach(var AMENT_PREFIX_PATH COLCON_PREFIX_PATH)
  if(NOT "$ENV{${var}}" STREQUAL "")
    message(FATAL_ERROR
      "This shell has a ROS 2 install sourced (${var}=$ENV{${var}}). The standalone build "
      "uses Debian's ament, rosidl and libraries and must not mix them with ROS 2's: build "
      "with scripts/build.sh, which leaves ROS 2 out of its environment, or from a shell "
      "without ROS 2 sourced.")
  endif()
endforeach()

# find_package also searches the prefix of every PATH entry, so a ROS 2
# bin folder left on PATH (/opt/ros/humble/bin) would still yield its
# packages: ignore every such prefix, recognised by its local_setup.sh.
set(_data_center_ros_prefixes)
string(REPLACE ":" ";" _data_center_path "$ENV{PATH}")
foreach(dir IN LISTS _data_center_path)
  get_filename_component(prefix "${dir}" DIRECTORY)
  if(prefix AND EXISTS "${prefix}/local_setup.sh")
    list(APPEND _data_center_ros_prefixes "${prefix}")
  endif()
endforeach()
if(_data_center_ros_prefixes)
  list(REMOVE_DUPLICATES _data_center_ros_prefixes)
  if(CMAKE_VERSION VERSION_LESS 3.23)
    message(FATAL_ERROR "PATH names ROS 2 installs (${_data_center_ros_prefixes}), which CMake "
                        "${CMAKE_VERSION} cannot be told to ignore: take them out of PATH.")
  endif()
  message(STATUS "Not searched for packages (ROS 2 installs on PATH): ${_data_center_ros_prefixes}")
  list(APPEND CMAKE_IGNORE_PREFIX_PATH ${_data_center_ros_prefixes})
endif()
