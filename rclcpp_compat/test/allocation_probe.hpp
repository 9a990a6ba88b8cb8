// SPDX-License-Identifier: Apache-2.0
// Replaces the global operator new of the test program that links it, to
// record the largest single allocation: lets tests check that a declared
// length never turns into an allocation of that size.
#ifndef RCLCPP_COMPAT__TEST__ALLOCATION_PROBE_HPP_
#define RCLCPP_COMPAT__TEST__ALLOCATION_PROBE_HPP_

#include <cstddef>

namespace compat_test {

void reset_largest_allocation();
size_t largest_allocation();

}  // namespace compat_test

#endif  // RCLCPP_COMPAT__TEST__ALLOCATION_PROBE_HPP_
