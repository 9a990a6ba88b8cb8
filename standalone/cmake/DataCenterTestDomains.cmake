# SPDX-License-Identifier: Apache-2.0
# ROS_DOMAIN_IDs of everything in this build that starts DDS participants:
# test executables, the fuzz target that talks DDS, the benchmark and the
# valgrind script. Each gets a fixed range at an offset from one cache
# variable, so that two runs on one machine (a CI job beside a developer's
# run, or two build folders) stay apart when their bases are at least the
# span apart: configure the second with -DDATA_CENTER_TEST_DOMAIN_BASE=0.
#
# The table is the same in every build folder whatever it builds, so the
# fuzzing build and the test build with one base never share an id either.
# Test cases inside one executable each take their own id of its range
# (e2e::TestDomain(i) in test/support), because CTest runs them side by side.
set(DATA_CENTER_TEST_DOMAIN_BASE 144 CACHE STRING
  "First ROS_DOMAIN_ID of this build's tests; another run at the same time needs a base at least the span away")

# name                        ids
set(DATA_CENTER_TEST_DOMAIN_TABLE
  test_compat_wire            1
  test_compat_service_client  1
  test_compat_foreign_peer    1
  test_compat_refusal         1
  test_compat_graph           1
  test_compat_parameters      1
  fuzz_wire_sample            2  # libFuzzer run, corpus replay
  test_node_lifecycle         10
  test_commands               10
  test_discovery              1
  test_file_handling          8
  test_client_examples        1
  test_mixed_arch             6
  test_ros_graph              1
  test_security               1
  test_stress_crash           1
  test_stress_load            3
  test_stress_security        1
  test_stress_hostile         8
  bench                       1
  valgrind                    1
  test_running_node           1
  test_service_unit           1
  test_client_shared          1
)

if(NOT DATA_CENTER_TEST_DOMAIN_BASE MATCHES "^[0-9]+$")
  message(FATAL_ERROR "DATA_CENTER_TEST_DOMAIN_BASE must be a ROS_DOMAIN_ID, not '${DATA_CENTER_TEST_DOMAIN_BASE}'")
endif()

# Offsets in table order, checked once here.
set(_offset 0)
set(_listing "")
list(LENGTH DATA_CENTER_TEST_DOMAIN_TABLE _length)
math(EXPR _last "${_length} - 1")
foreach(_i RANGE 0 ${_last} 2)
  math(EXPR _j "${_i} + 1")
  list(GET DATA_CENTER_TEST_DOMAIN_TABLE ${_i} _name)
  list(GET DATA_CENTER_TEST_DOMAIN_TABLE ${_j} _count)
  math(EXPR _first "${DATA_CENTER_TEST_DOMAIN_BASE} + ${_offset}")
  set_property(GLOBAL PROPERTY DATA_CENTER_TEST_DOMAIN_FIRST_${_name} ${_first})
  set_property(GLOBAL PROPERTY DATA_CENTER_TEST_DOMAIN_COUNT_${_name} ${_count})
  string(APPEND _listing "${_name} ${_first} ${_count}\n")
  math(EXPR _offset "${_offset} + ${_count}")
endforeach()
set(DATA_CENTER_TEST_DOMAIN_SPAN ${_offset})
math(EXPR _end "${DATA_CENTER_TEST_DOMAIN_BASE} + ${DATA_CENTER_TEST_DOMAIN_SPAN} - 1")
if(_end GREATER 232)
  math(EXPR _max "233 - ${DATA_CENTER_TEST_DOMAIN_SPAN}")
  message(FATAL_ERROR "DATA_CENTER_TEST_DOMAIN_BASE=${DATA_CENTER_TEST_DOMAIN_BASE}: the tests need "
                      "${DATA_CENTER_TEST_DOMAIN_SPAN} ROS_DOMAIN_IDs and the last valid one is 232, "
                      "so the base must be 0-${_max}")
endif()
message(STATUS "test ROS_DOMAIN_IDs: ${DATA_CENTER_TEST_DOMAIN_BASE}-${_end}")
# For the scripts (valgrind-node.sh, bench/run.sh): "name first count" lines.
file(WRITE ${CMAKE_BINARY_DIR}/test_domains.txt "${_listing}")

# The range of `name`: its first id and how many ids it has.
function(data_center_test_domains name first_var count_var)
  get_property(first GLOBAL PROPERTY DATA_CENTER_TEST_DOMAIN_FIRST_${name})
  if(first STREQUAL "")
    message(FATAL_ERROR "${name} starts DDS participants but has no ROS_DOMAIN_IDs: "
                        "add it to the table in standalone/cmake/DataCenterTestDomains.cmake")
  endif()
  get_property(count GLOBAL PROPERTY DATA_CENTER_TEST_DOMAIN_COUNT_${name})
  set(${first_var} ${first} PARENT_SCOPE)
  set(${count_var} ${count} PARENT_SCOPE)
endfunction()

# Gives test executable `target` its range as DATA_CENTER_TEST_DOMAIN_FIRST
# and DATA_CENTER_TEST_DOMAIN_COUNT.
function(data_center_target_test_domains target)
  data_center_test_domains(${target} first count)
  target_compile_definitions(${target} PRIVATE DATA_CENTER_TEST_DOMAIN_FIRST=${first}
                                               DATA_CENTER_TEST_DOMAIN_COUNT=${count})
endfunction()
