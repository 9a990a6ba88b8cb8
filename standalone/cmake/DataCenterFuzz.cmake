# One fuzz target: with DATA_CENTER_FUZZ=ON (Clang) a libFuzzer binary that
# scripts/fuzz.sh runs; in every other build with tests a plain program that
# replays the committed corpus once, as a CTest test with label `unit`.
#
#   data_center_fuzz_target(NAME CORPUS <dir> [DOMAIN <id>] SOURCES <files...>)
#
# FUZZ_DOMAIN_ID tells the target which ROS_DOMAIN_ID its participants use:
# DOMAIN under libFuzzer, DOMAIN + 1 when replaying, so that the two never
# share one.
set(DATA_CENTER_FUZZ_HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR}/../../fuzz)

function(data_center_fuzz_target name)
  cmake_parse_arguments(ARG "" "CORPUS;DOMAIN" "SOURCES" ${ARGN})
  if(NOT ARG_DOMAIN)
    set(ARG_DOMAIN 0)
  endif()
  if(DATA_CENTER_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(domain ${ARG_DOMAIN})
  else()
    add_executable(${name} ${ARG_SOURCES} ${DATA_CENTER_FUZZ_HARNESS_DIR}/replay_main.cpp)
    add_test(NAME fuzz_corpus.${name} COMMAND ${name} ${ARG_CORPUS})
    set_tests_properties(fuzz_corpus.${name} PROPERTIES LABELS unit TIMEOUT 120)
    math(EXPR domain "${ARG_DOMAIN} + 1")
  endif()
  target_include_directories(${name} PRIVATE ${DATA_CENTER_FUZZ_HARNESS_DIR})
  target_compile_definitions(${name} PRIVATE FUZZ_DOMAIN_ID="${domain}")
  target_compile_options(${name} PRIVATE ${DATA_CENTER_WARNINGS})
  set_property(GLOBAL APPEND PROPERTY DATA_CENTER_FUZZ_TARGETS ${name})
endfunction()
