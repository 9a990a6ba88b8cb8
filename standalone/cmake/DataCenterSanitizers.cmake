# SPDX-License-Identifier: Apache-2.0
# Instrumented builds. Both options apply to every target of the tree (our
# code, the generated protobuf and rosidl code, the DDS layer), never to the
# system libraries it links.
#
#   DATA_CENTER_SANITIZE=ON  AddressSanitizer + UndefinedBehaviorSanitizer for
#                            the whole build, tests included (GCC or Clang).
#   DATA_CENTER_FUZZ=ON      libFuzzer targets in fuzz/, built with the same
#                            sanitizers and coverage instrumentation (Clang).
option(DATA_CENTER_SANITIZE "Build everything with AddressSanitizer and UBSan" OFF)
option(DATA_CENTER_FUZZ "Build the libFuzzer targets in fuzz/ (needs Clang)" OFF)

set(DATA_CENTER_SANITIZER_FLAGS
  -fsanitize=address,undefined
  # Any undefined behaviour stops the run instead of printing and going on.
  -fno-sanitize-recover=all
  -fno-omit-frame-pointer)

if(DATA_CENTER_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "DATA_CENTER_FUZZ needs Clang for C and C++ "
                        "(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # Coverage feedback for every object; only the fuzz executables link the
  # libFuzzer driver (-fsanitize=fuzzer, see fuzz/CMakeLists.txt).
  add_compile_options(${DATA_CENTER_SANITIZER_FLAGS} -fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=address,undefined)
elseif(DATA_CENTER_SANITIZE)
  add_compile_options(${DATA_CENTER_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's flow analysis sees the sanitizers' instrumentation and reports
    # maybe-uninitialized inside libstdc++ (std::regex, std::function) that the
    # plain build does not; keep it visible but not fatal here.
    list(APPEND DATA_CENTER_WARNINGS -Wno-error=maybe-uninitialized)
  endif()
endif()
