// SPDX-License-Identifier: Apache-2.0
#include "context/signals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include "context/context_impl.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp_compat {

namespace {

int g_signal_pipe[2] = {-1, -1};
struct sigaction g_old_int;
struct sigaction g_old_term;
bool g_installed_int = false;
bool g_installed_term = false;
std::thread * g_signal_thread = nullptr;

extern "C" void on_signal(int signo) {
  const int saved = errno;
  const char byte = static_cast<char>(signo);
  ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void signal_thread_main() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(g_signal_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0 || byte == 0) {
      return;  // uninstall asked us to stop
    }
    ContextImpl::instance().shutdown("signal handler");
  }
}

void install_one(int signo, struct sigaction * old) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(signo, &action, old) != 0) {
    throw rclcpp::exceptions::RCLError(std::string("cannot install signal handler: ") + std::strerror(errno));
  }
}

}  // namespace

void install_signal_handlers(bool sigint, bool sigterm) {
  if (g_signal_thread != nullptr || (!sigint && !sigterm)) {
    return;
  }
  if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) {
    throw rclcpp::exceptions::RCLError(std::string("cannot create signal pipe: ") + std::strerror(errno));
  }
  g_signal_thread = new std::thread(signal_thread_main);
  if (sigint) {
    install_one(SIGINT, &g_old_int);
    g_installed_int = true;
  }
  if (sigterm) {
    install_one(SIGTERM, &g_old_term);
    g_installed_term = true;
  }
}

void uninstall_signal_handlers() {
  if (g_signal_thread == nullptr) {
    return;
  }
  if (g_installed_int) {
    sigaction(SIGINT, &g_old_int, nullptr);
    g_installed_int = false;
  }
  if (g_installed_term) {
    sigaction(SIGTERM, &g_old_term, nullptr);
    g_installed_term = false;
  }
  const char stop = 0;
  ssize_t ignored = write(g_signal_pipe[1], &stop, 1);
  (void)ignored;
  g_signal_thread->join();
  delete g_signal_thread;
  g_signal_thread = nullptr;
  close(g_signal_pipe[0]);
  close(g_signal_pipe[1]);
  g_signal_pipe[0] = g_signal_pipe[1] = -1;
}

}  // namespace rclcpp_compat
