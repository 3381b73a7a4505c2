// The file logger: a size-rotated file written through spdlog. Levels are
// 1 fatal, 2 error, 3 warning, 4 info, 5 debug; each line carries a tag.
// Safe from any thread; a logger whose file cannot be opened drops lines.
#pragma once

#include <cstdarg>
#include <memory>
#include <string>

namespace spdlog {
class logger;
}

namespace tsl {

enum LogLevel { kFatal = 1, kError = 2, kWarning = 3, kInfo = 4, kDebug = 5 };

class Logger {
 public:
  Logger();
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Opens (creating directories) the rotating file at path: max_bytes per
  // file, max_files rotated copies. Returns false and keeps dropping lines on
  // failure. Called once before other threads write.
  bool Open(const std::string& path, size_t max_bytes = 5 * 1024 * 1024, size_t max_files = 3);
  bool IsOpen() const { return logger_ != nullptr; }
  const std::string& path() const { return path_; }

  // Lines above max_level are dropped; 5 (the default) keeps every level.
  void setMaxLevel(int max_level) { max_level_ = max_level; }

  // Formats with printf conventions and stores "[tag] text" as one line; a
  // trailing line break of the text is folded into the line's own.
  void write(int level, const char* tag, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void vwrite(int level, const char* tag, const char* format, va_list args);

  void flush();

 private:
  std::shared_ptr<spdlog::logger> logger_;  // set by Open before sharing
  std::string path_;
  int max_level_ = kDebug;
};

}  // namespace tsl
