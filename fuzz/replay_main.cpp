// SPDX-License-Identifier: Apache-2.0
// Runs a fuzz target's entry point once on every file named on the command
// line (folders: every file in them), without libFuzzer. Any build, GCC
// included, replays the committed corpora this way as ordinary tests, so an
// input that once broke the code keeps being checked.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int * argc, char *** argv);

namespace {

void Collect(const std::string & path, std::vector<std::string> & files) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    files.push_back(path);
    return;
  }
  if (DIR * dir = ::opendir(path.c_str())) {
    while (const dirent * entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        Collect(path + "/" + name, files);
      }
    }
    ::closedir(dir);
  }
}

}  // namespace

int main(int argc, char ** argv) {
  if (LLVMFuzzerInitialize != nullptr) {
    LLVMFuzzerInitialize(&argc, &argv);
  }
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    Collect(argv[i], files);
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  for (const auto & file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", files.size());
  return 0;
}
