// SPDX-License-Identifier: Apache-2.0
#include "logger.hpp"

#include <exception>
#include <iostream>
#include <mutex>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

namespace data_center {
namespace {

constexpr char kPattern[] = "[%Y-%m-%d %T.%e] [thread %t] [%n] [%l] [%@] %v";

void Configure(spdlog::logger & logger, int level) {
  logger.set_level(static_cast<spdlog::level::level_enum>(level));
  logger.set_pattern(kPattern, spdlog::pattern_time_type::local);
  logger.flush_on(spdlog::level::debug);
}

// Stand-in used while the handle is empty. Not registered with spdlog, so it
// can never collide with the file logger's name.
struct StderrFallback {
  std::mutex mutex;
  std::shared_ptr<spdlog::logger> logger;
  std::string name = "data_center";
  int level = spdlog::level::debug;
};

StderrFallback & Fallback() {
  static StderrFallback fallback;
  return fallback;
}

// After a failed InitLogger the stand-in takes the name and level that were
// asked for.
void RememberFallback(const std::string & name, int level) noexcept {
  try {
    StderrFallback & fallback = Fallback();
    std::lock_guard<std::mutex> lock(fallback.mutex);
    fallback.name = name;
    fallback.level = level;
    fallback.logger.reset();
  } catch (...) {
    // Out of memory: keep the previous stand-in.
  }
}

}  // namespace

std::shared_ptr<spdlog::logger> & GetLogger() {
  static std::shared_ptr<spdlog::logger> handle;
  return handle;
}

void InitLogger(std::shared_ptr<spdlog::logger> & handle, const std::string & path, int level,
                std::string name) {
  if (name.empty()) {
    name = "unknow";
  }
  try {
    handle = spdlog::daily_logger_mt(name, path, 0, 0, false, 0);
    Configure(*handle, level);
  } catch (const std::exception & e) {
    // A plain newline: the next flush of standard output carries the line.
    std::cout << "log initialization failed[" << e.what() << "]" << '\n';
    RememberFallback(name, level);
  }
}

std::shared_ptr<spdlog::logger> LoggerForCall() {
  std::shared_ptr<spdlog::logger> logger = GetLogger();
  if (logger) {
    return logger;
  }
  StderrFallback & fallback = Fallback();
  std::lock_guard<std::mutex> lock(fallback.mutex);
  if (!fallback.logger) {
    fallback.logger =
        std::make_shared<spdlog::logger>(fallback.name, std::make_shared<spdlog::sinks::stderr_sink_mt>());
    Configure(*fallback.logger, fallback.level);
  }
  return fallback.logger;
}

}  // namespace data_center
