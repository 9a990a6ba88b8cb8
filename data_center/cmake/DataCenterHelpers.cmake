# SPDX-License-Identifier: Apache-2.0
# Small helpers so every target of ours gets the same flags and links. They
# are global functions: the standalone build's tests and benchmarks use them
# too.
set(DATA_CENTER_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR}/..)
get_filename_component(DATA_CENTER_PACKAGE_DIR "${DATA_CENTER_PACKAGE_DIR}" ABSOLUTE)

# Our own sources: strict warnings, and __FILE__ relative to the package
# folder ("./src/query_handler.cpp"), which the log lines show.
function(data_center_own_code target)
  target_compile_options(${target} PRIVATE ${DATA_CENTER_WARNINGS}
    "-fmacro-prefix-map=${DATA_CENTER_PACKAGE_DIR}/=./")
endfunction()

# The generated C++ message types of korvane_protocol (standalone: with the
# introspection type support, from which the layer serialises them).
function(data_center_link_interfaces target)
  if(TARGET rclcpp_compat)
    target_link_libraries(${target} PUBLIC korvane_protocol__rosidl_generator_cpp
      korvane_protocol__rosidl_typesupport_introspection_cpp)
  else()
    ament_target_dependencies(${target} PUBLIC korvane_protocol)
  endif()
endfunction()

# rclcpp: the real one on a ROS 2 machine, the layer over Cyclone DDS elsewhere.
function(data_center_link_rclcpp target)
  if(TARGET rclcpp_compat)
    target_link_libraries(${target} PRIVATE rclcpp_compat)
  else()
    ament_target_dependencies(${target} PUBLIC rclcpp korvane_protocol)
  endif()
endfunction()

# A GoogleTest executable whose cases are registered one by one under `label`.
function(data_center_gtest name label)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  data_center_own_code(${name})
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 30)
endfunction()

# The generated classes must come from the protoc of the runtime they are
# compiled against: code of another protoc version fails to compile, or
# refuses to start, against that runtime.
function(data_center_check_protoc)
  set(protoc "${Protobuf_PROTOC_EXECUTABLE}")
  execute_process(COMMAND ${protoc} --version OUTPUT_VARIABLE output RESULT_VARIABLE result
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" protoc_version "${output}")
  if(NOT result EQUAL 0 OR NOT protoc_version VERSION_EQUAL Protobuf_VERSION)
    message(FATAL_ERROR "protoc ${protoc} is version '${protoc_version}' (${output}), the protobuf "
                        "headers and library ${Protobuf_VERSION}: install the matching protoc")
  endif()
endfunction()

# A gtest of the robot build that starts DDS participants: on a ROS_DOMAIN_ID
# of its own from ament_cmake_ros's isolated runner, or else on
# `fallback_domain`. No target when ament finds no GoogleTest (it says so).
function(data_center_ros_gtest name source timeout fallback_domain)
  find_package(ament_cmake_ros QUIET)
  if(ament_cmake_ros_FOUND)
    ament_add_ros_isolated_gtest(${name} ${source} TIMEOUT ${timeout})
  else()
    find_package(ament_cmake_gtest REQUIRED)
    ament_add_gtest(${name} ${source} TIMEOUT ${timeout} ENV ROS_DOMAIN_ID=${fallback_domain})
  endif()
  if(TARGET ${name})
    data_center_own_code(${name})
  endif()
endfunction()
