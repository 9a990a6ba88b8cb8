// SPDX-License-Identifier: Apache-2.0
// What a whole-system test takes from its build and its environment: its
// ROS_DOMAIN_IDs and the knobs that scale a run.
#ifndef DATA_CENTER_TEST__SUPPORT__TEST_ENVIRONMENT_HPP_
#define DATA_CENTER_TEST__SUPPORT__TEST_ENVIRONMENT_HPP_

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace e2e {

#if defined(DATA_CENTER_TEST_DOMAIN_FIRST) && defined(DATA_CENTER_TEST_DOMAIN_COUNT)
// The `index`th ROS_DOMAIN_ID of this test executable's range, which the
// build assigns (data_center_target_test_domains in CMake). CTest runs the
// cases of one executable side by side, so each case takes its own index.
inline int TestDomain(int index) {
  if (index < 0 || index >= DATA_CENTER_TEST_DOMAIN_COUNT) {
    throw std::out_of_range("domain index " + std::to_string(index) + ": this executable has " +
                            std::to_string(DATA_CENTER_TEST_DOMAIN_COUNT) +
                            " (raise its count in DataCenterTestDomains.cmake)");
  }
  return DATA_CENTER_TEST_DOMAIN_FIRST + index;
}
#endif

// An integer from the environment, or `fallback` when unset or not a number.
inline long EnvLong(const char * name, long fallback) {
  const char * text = std::getenv(name);
  if (text == nullptr || *text == '\0') {
    return fallback;
  }
  char * end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' ? value : fallback;
}

// Whether programs of the test run under user-mode emulation (qemu-user):
// this build's, when it was cross-built, or the tested node, when
// DATA_CENTER_TEST_NODE_EMULATED=1 says so (another build's node behind a
// wrapper that starts it under the emulator).
bool UnderEmulation();

// How much longer than natively a test waits for its programs:
// DATA_CENTER_TEST_TIME_SCALE when set, else 4 under emulation, else 1. Only
// waits that bound a working run scale; a run that works ends them early, so
// a slow machine fails no test by being slow.
long TimeScale();

template <typename Rep, typename Period>
std::chrono::duration<Rep, Period> Scaled(std::chrono::duration<Rep, Period> wait) {
  return wait * TimeScale();
}

}  // namespace e2e

#endif  // DATA_CENTER_TEST__SUPPORT__TEST_ENVIRONMENT_HPP_
