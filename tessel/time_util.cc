#include "tessel/time_util.h"

#include <chrono>
#include <ctime>

namespace tsl {

std::string TimeUtil::formatNow(const char* pattern) const {
  if (!pattern || !*pattern) return std::string();
  time_t t = time(nullptr);
  struct tm local;
  localtime_r(&t, &local);
  char buf[256];
  size_t n = strftime(buf, sizeof buf, pattern, &local);
  return std::string(buf, n);
}

int64_t TimeUtil::now() const {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace tsl
