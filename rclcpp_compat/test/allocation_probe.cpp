// SPDX-License-Identifier: Apache-2.0
#include "allocation_probe.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_largest{0};
}  // namespace

namespace compat_test {

void reset_largest_allocation() {
  g_largest = 0;
}

size_t largest_allocation() {
  return g_largest.load();
}

}  // namespace compat_test

void * operator new(size_t size) {
  size_t seen = g_largest.load();
  while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
  }
  if (void * p = std::malloc(size != 0 ? size : 1)) {
    return p;
  }
  throw std::bad_alloc();
}

void operator delete(void * p) noexcept {
  std::free(p);
}

void operator delete(void * p, size_t) noexcept {
  std::free(p);
}
