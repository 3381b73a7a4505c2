#include "main/log_sink.h"

#include <QDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tessel/tessel.h"

namespace {

struct LevelInfo {
  int level;
  const char* prefix;
  int tessel_level;
};

constexpr LevelInfo kLevels[] = {
    {10, "error:", 2}, {20, "warning:", 3}, {30, "info:", 4}, {40, "debug:", 5}};

}  // namespace

void AppLogSink(int level, const char* format, va_list args, void*) {
  const LevelInfo* info = nullptr;
  for (const auto& candidate : kLevels)
    if (candidate.level == level) info = &candidate;
  if (!info) return;
  char text[4096];
  vsnprintf(text, sizeof(text), format, args);
  qDebug().noquote() << info->prefix << text;
  if (CD) {
    const std::string now = CD->time()->formatNow("%m%d-%H:%M:%S");
    CD->logger()->write(info->tessel_level, "core", "%s\t%s\n", now.c_str(), text);
  }
}

void ReportLastError(const char* prefix) {
  const int code = errno;
  qDebug().noquote() << prefix << code << strerror(code);
}
