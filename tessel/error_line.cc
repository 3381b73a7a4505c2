#include "tessel/error_line.h"

#include <cstring>

namespace tsl {

const char* FileBaseName(const char* path) {
  if (!path) return "";
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

std::string ErrorLineTime() { return CD ? CD->time()->formatNow("%m%d-%H:%M:%S") : std::string(); }

}  // namespace tsl
