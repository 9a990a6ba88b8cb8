// SPDX-License-Identifier: Apache-2.0
// The process-wide logger and the form of a log call.
#ifndef DATA_CENTER__LOGGER_HPP_
#define DATA_CENTER__LOGGER_HPP_

#include <memory>
#include <string>

#include <spdlog/spdlog.h>

namespace data_center {

// The process-wide logger handle; empty until InitLogger succeeds.
std::shared_ptr<spdlog::logger> & GetLogger();

// Makes a daily-file logger (one file per local day, rotated at midnight,
// appended to, never deleted) registered as `name` ("unknow" when empty) and
// stores it in `handle`. Lets no exception out: a failure is reported on
// standard output and leaves `handle` as it was.
void InitLogger(std::shared_ptr<spdlog::logger> & handle, const std::string & path, int level,
                std::string name);

// What a log call writes through: a copy of the handle, or, while the handle is
// empty, a logger that writes the same lines to standard error so that records
// are not lost when the log file could not be opened.
std::shared_ptr<spdlog::logger> LoggerForCall();

}  // namespace data_center

// Logs with the caller's file, line and function. Expanded at the call site so
// that the literal format string is checked at compile time by fmt.
#define DATA_CENTER_LOG(level, ...)                                                                         \
  do {                                                                                                      \
    const std::shared_ptr<spdlog::logger> data_center_log_logger_ = ::data_center::LoggerForCall();         \
    data_center_log_logger_->log(::spdlog::source_loc{__FILE__, __LINE__, __func__}, (level), __VA_ARGS__); \
  } while (false)

#define DATA_CENTER_LOG_DEBUG(...) DATA_CENTER_LOG(::spdlog::level::debug, __VA_ARGS__)
#define DATA_CENTER_LOG_ERROR(...) DATA_CENTER_LOG(::spdlog::level::err, __VA_ARGS__)

#endif  // DATA_CENTER__LOGGER_HPP_
