// The application's log sink: every line to the Qt debug stream with its
// level prefix and to the support library's logger under the tag "core".
#pragma once

#include <cstdarg>

// Installed with SetLogSink at start-up; context unused.
void AppLogSink(int level, const char* format, va_list args, void* context);

// Writes prefix, errno and its system text to the Qt debug stream.
void ReportLastError(const char* prefix);
