#include "base/log.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// A sink and its context, published together. A caller may free the old
// context as soon as SetLogSink returns (a test's capture does) while other
// threads keep logging, so SetLogSink waits until no line is inside the old
// record. Records are never freed: a line may still hold one it is about to
// leave, and there are only as many as SetLogSink calls.
struct SinkRecord {
  LogSink sink = nullptr;
  void* context = nullptr;
  std::atomic<int> users{0};
};

SinkRecord g_default_record;
std::atomic<SinkRecord*> g_record{&g_default_record};
std::mutex g_records_mutex;  // SetLogSink callers, one at a time
std::deque<SinkRecord>& Records() {
  static auto* records = new std::deque<SinkRecord>;
  return *records;
}

// The current record, counted as in use. The second look sees a record that
// SetLogSink replaced before it could see this line's count (all seq_cst),
// so such a line lets go and takes the new one.
SinkRecord* EnterRecord() {
  for (;;) {
    SinkRecord* record = g_record.load();
    record->users++;
    if (g_record.load() == record) return record;
    record->users--;
  }
}

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
  SinkRecord* record = EnterRecord();
  if (record->sink)
    record->sink(level, format, args, record->context);
  else
    DefaultOutput(level, format, args);
  record->users--;
  va_end(args);
}

void SetLogSink(LogSink sink, void* context) {
  std::lock_guard<std::mutex> lock(g_records_mutex);
  SinkRecord* record = &g_default_record;
  if (sink) {
    Records().emplace_back();
    record = &Records().back();
    record->sink = sink;
    record->context = context;
  }
  SinkRecord* previous = g_record.exchange(record);
  while (previous != record && previous->users.load() != 0) std::this_thread::yield();
}
