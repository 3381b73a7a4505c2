// Wall-clock helpers. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace tsl {

class TimeUtil {
 public:
  // The local time now, formatted with a strftime pattern ("%m%d-%H:%M:%S").
  std::string formatNow(const char* pattern) const;
  // Microseconds since the Unix epoch.
  int64_t now() const;
};

}  // namespace tsl
