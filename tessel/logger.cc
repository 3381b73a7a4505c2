#include "tessel/logger.h"

#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <vector>

#include "tessel/paths.h"

namespace tsl {
namespace {

spdlog::level::level_enum ToSpdLevel(int level) {
  switch (level) {
    case kFatal:
      return spdlog::level::critical;
    case kError:
      return spdlog::level::err;
    case kWarning:
      return spdlog::level::warn;
    case kInfo:
      return spdlog::level::info;
    default:
      return spdlog::level::debug;
  }
}

}  // namespace

Logger::Logger() = default;

Logger::~Logger() { flush(); }

bool Logger::Open(const std::string& path, size_t max_bytes, size_t max_files) {
  path_ = path;
  auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(path.substr(0, slash))) return false;
  try {
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(path, max_bytes, max_files);
    // Not registered globally: several loggers (tests) may exist side by side.
    auto logger = std::make_shared<spdlog::logger>("tessel", std::move(sink));
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %L %v");
    logger->set_level(spdlog::level::trace);
    // Every line reaches the file at once, so a crash keeps the lines before it.
    logger->flush_on(spdlog::level::trace);
    logger_ = std::move(logger);
  } catch (const spdlog::spdlog_ex&) {
    logger_.reset();
    return false;
  }
  return true;
}

void Logger::write(int level, const char* tag, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vwrite(level, tag, format, args);
  va_end(args);
}

void Logger::vwrite(int level, const char* tag, const char* format, va_list args) {
  if (!logger_ || level < kFatal || level > kDebug || level > max_level_ || !format) return;
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  std::string text;
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, n);
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    vsnprintf(big.data(), big.size(), format, args);
    text.assign(big.data(), n);
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  try {
    logger_->log(ToSpdLevel(level), "[{}] {}", tag ? tag : "", text);
  } catch (const spdlog::spdlog_ex&) {
    // A full disk must not take the program down; the line is lost.
  }
}

void Logger::flush() {
  if (!logger_) return;
  try {
    logger_->flush();
  } catch (const spdlog::spdlog_ex&) {
  }
}

}  // namespace tsl
