// SPDX-License-Identifier: Apache-2.0
#include "middleware_notices.hpp"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <string>

namespace data_center {
namespace cli {

namespace {

// The path of the Cyclone DDS library loaded in this process, or "". Its
// soname differs between builds (libddsc.so.0, Debian's libddsc.so.0debian),
// so the loaded objects are searched by the name's stem.
std::string LoadedCyclonePath() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info * info, size_t, void * out) {
        const std::string path = info->dlpi_name == nullptr ? "" : info->dlpi_name;
        // From the last '/' on (npos + 1 is 0).
        if (path.compare(path.rfind('/') + 1, 10, "libddsc.so") != 0) return 0;
        *static_cast<std::string *>(out) = path;
        return 1;
      },
      &found);
  return found;
}

}  // namespace

void QuietMiddlewareNotices() {
  // Cyclone's dds_set_log_mask and its categories fatal (1) and error (2).
  // Looked up rather than linked, so that the robot build does not depend on
  // which middleware is installed. A ROS 2 that selects its middleware at run
  // time loads Cyclone privately (RTLD_LOCAL), where RTLD_DEFAULT does not
  // reach, so the symbol is taken from the loaded library itself;
  // RTLD_NOLOAD never loads it when it is not there.
  using SetLogMask = void (*)(uint32_t);
  constexpr uint32_t kFatalAndError = 1u | 2u;
  const std::string path = LoadedCyclonePath();
  if (path.empty()) {
    return;
  }
  void * library = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) {
    return;
  }
  void * symbol = dlsym(library, "dds_set_log_mask");
  if (symbol != nullptr) {
    reinterpret_cast<SetLogMask>(symbol)(kFatalAndError);
  }
  dlclose(library);
}

}  // namespace cli
}  // namespace data_center
