# SPDX-License-Identifier: Apache-2.0
# One fuzz target: with DATA_CENTER_FUZZ=ON (Clang) a libFuzzer binary that
# scripts/fuzz.sh runs; in every other build with tests a plain program that
# replays the committed corpus once, as a CTest test with label `unit`.
#
#   data_center_fuzz_target(NAME CORPUS <dir> [DDS] SOURCES <files...>)
#
# A target that starts DDS participants (DDS) has two ids in the test domain
# table: FUZZ_DOMAIN_ID tells it the first under libFuzzer and the second when
# replaying, so that the two never share one.
set(DATA_CENTER_FUZZ_HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR}/../../fuzz)

function(data_center_fuzz_target name)
  cmake_parse_arguments(ARG "DDS" "CORPUS" "SOURCES" ${ARGN})
  set(domain 0)
  if(ARG_DDS)
    data_center_test_domains(${name} domain count)
  endif()
  if(DATA_CENTER_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES} ${DATA_CENTER_FUZZ_HARNESS_DIR}/replay_main.cpp)
    add_test(NAME fuzz_corpus.${name} COMMAND ${name} ${ARG_CORPUS})
    set_tests_properties(fuzz_corpus.${name} PROPERTIES LABELS unit TIMEOUT 120)
    if(ARG_DDS)
      math(EXPR domain "${domain} + 1")
    endif()
  endif()
  target_include_directories(${name} PRIVATE ${DATA_CENTER_FUZZ_HARNESS_DIR})
  target_compile_definitions(${name} PRIVATE FUZZ_DOMAIN_ID="${domain}")
  target_compile_options(${name} PRIVATE ${DATA_CENTER_WARNINGS})
  set_property(GLOBAL APPEND PROPERTY DATA_CENTER_FUZZ_TARGETS ${name})
endfunction()
