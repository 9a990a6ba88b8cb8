// SPDX-License-Identifier: Apache-2.0
// bench_exec_stamp FILE PROGRAM [ARGS...]: writes CLOCK_MONOTONIC in
// nanoseconds to FILE, then becomes PROGRAM (same process id). The stamp is
// the program's start as another process's clock sees it, without the cost
// of whatever launched us (unshare, mount, shell) in the figure.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char ** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::string text =
      std::to_string(static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + "\n";
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || close(fd) != 0) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], argv[1], std::strerror(errno));
    return 1;
  }
  execv(argv[2], argv + 2);
  std::fprintf(stderr, "%s: cannot run %s: %s\n", argv[0], argv[2], std::strerror(errno));
  return 127;
}
