#include "support/log_capture.h"

#include <cstdarg>
#include <cstdio>

#include "base/log.h"

namespace qnchat_test {
namespace {

void CollectLine(int, const char* format, va_list args, void* context) {
  char line[1024];
  vsnprintf(line, sizeof(line), format, args);
  static_cast<LogCapture*>(context)->Add(line);
}

}  // namespace

LogCapture::LogCapture() { SetLogSink(&CollectLine, this); }

LogCapture::~LogCapture() { SetLogSink(nullptr, nullptr); }

void LogCapture::Add(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> LogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

int LogCapture::Count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const std::string& line : lines_) n += line == text;
  return n;
}

bool LogCapture::HasPrefix(const std::string& prefix) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& line : lines_)
    if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size() + 3)
      return true;
  return false;
}

}  // namespace qnchat_test
