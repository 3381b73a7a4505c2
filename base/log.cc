#include "base/log.h"

#include <cstdio>

namespace {

// Written once at start-up before other threads exist, read afterwards.
LogSink g_sink = nullptr;
void* g_context = nullptr;

bool IsKnownLevel(int level) {
  return level == kLogError || level == kLogWarning || level == kLogInfo || level == kLogDebug;
}

void DefaultOutput(int level, const char* format, va_list args) {
  if (!IsKnownLevel(level)) return;
  FILE* stream = level == kLogError ? stderr : stdout;
  vfprintf(stream, format, args);
  fputc('\n', stream);
  fflush(stream);
}

}  // namespace

void LogMessage(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (g_sink)
    g_sink(level, format, args, g_context);
  else
    DefaultOutput(level, format, args);
  va_end(args);
}

void SetLogSink(LogSink sink, void* context) {
  g_sink = sink;
  g_context = context;
}
