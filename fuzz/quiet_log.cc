// Linked into every fuzz target: the libraries log freely on bad input, and
// printing that for every execution would dominate the run.
#include <cstdarg>

#include "base/log.h"

namespace {
void QuietSink(int, const char*, va_list, void*) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetLogSink(QuietSink, nullptr);
  return 0;
}
