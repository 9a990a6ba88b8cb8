// SPDX-License-Identifier: Apache-2.0
#include "middleware_notices.hpp"

#include <dlfcn.h>

#include <cstdint>

namespace data_center {
namespace cli {

void QuietMiddlewareNotices() {
  // Cyclone's dds_set_log_mask and its categories fatal (1) and error (2):
  // looked up rather than linked, so that the robot build does not depend on
  // which middleware is installed.
  using SetLogMask = void (*)(uint32_t);
  constexpr uint32_t kFatalAndError = 1u | 2u;
  void * symbol = dlsym(RTLD_DEFAULT, "dds_set_log_mask");
  if (symbol != nullptr) {
    reinterpret_cast<SetLogMask>(symbol)(kFatalAndError);
  }
}

}  // namespace cli
}  // namespace data_center
