// The levelled printf-style log call shared by every part of the program.
// Qt-free: the application installs a sink at start-up; until then (and in the
// headless tools) lines go to the standard streams. Safe from any thread.
#pragma once

#include <cstdarg>

enum LogLevel {
  kLogError = 10,
  kLogWarning = 20,
  kLogInfo = 30,
  kLogDebug = 40,
};

// Receives every line: level, printf format, its arguments, the context word.
using LogSink = void (*)(int level, const char* format, va_list args, void* context);

// Formats and hands the line to the installed sink, or to the default output:
// level 10 to standard error, 20/30/40 to standard output, other levels nowhere.
void LogMessage(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Installs the sink; a null sink restores the default output. Any thread,
// also while others log: when it returns, no line is inside the previous
// sink any more, so its context may be freed. A sink must not log or install
// a sink itself.
void SetLogSink(LogSink sink, void* context);
