// SPDX-License-Identifier: Apache-2.0
// The client's quiet mode where the middleware is loaded as a ROS 2 that
// selects it at run time loads it: privately, out of RTLD_DEFAULT's reach.
// This program does not link Cyclone DDS; it loads it itself.
#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "middleware_notices.hpp"

namespace data_center {
namespace cli {
namespace {

bool CycloneLoaded() {
  return dl_iterate_phdr(
             [](dl_phdr_info * info, size_t, void *) {
               return info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "libddsc.so") != nullptr ? 1
                                                                                                          : 0;
             },
             nullptr) != 0;
}

TEST(MiddlewareNotices, QuietsAPrivatelyLoadedCycloneAndLoadsNoneItself) {
  ASSERT_FALSE(CycloneLoaded()) << "this test must not link Cyclone DDS";
  // Under another middleware there is nothing to quiet, and nothing is loaded.
  QuietMiddlewareNotices();
  EXPECT_FALSE(CycloneLoaded());

  void * cyclone = dlopen(DATA_CENTER_TEST_CYCLONE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(cyclone, nullptr) << dlerror();
  ASSERT_EQ(dlsym(RTLD_DEFAULT, "dds_set_log_mask"), nullptr)
      << "loaded privately, as rmw_implementation does";
  auto * mask = *static_cast<uint32_t * const *>(dlsym(cyclone, "dds_log_mask"));
  ASSERT_NE(mask, nullptr);
  constexpr uint32_t kFatal = 1, kError = 2, kWarning = 4, kInfo = 8;
  *mask = kFatal | kError | kWarning | kInfo;

  QuietMiddlewareNotices();
  EXPECT_EQ(*mask, kFatal | kError);
  dlclose(cyclone);
}

}  // namespace
}  // namespace cli
}  // namespace data_center
