// SPDX-License-Identifier: Apache-2.0
// A failed invariant stops the fuzzer with a message and an abort, which
// libFuzzer records as a crash together with the input that caused it.
#ifndef DATA_CENTER_FUZZ__FUZZ_CHECK_HPP_
#define DATA_CENTER_FUZZ__FUZZ_CHECK_HPP_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                             \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n  ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                       \
      std::fprintf(stderr, "\n");                                                              \
      std::abort();                                                                            \
    }                                                                                          \
  } while (false)

#endif  // DATA_CENTER_FUZZ__FUZZ_CHECK_HPP_
