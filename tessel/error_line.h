// Error lines written straight to the support logger under the tag "tsl":
//   <time %m%d-%H:%M:%S>[E][tsl] <file name> <line>: <message>
// TSL_ERROR_LINE("[feedback failed!]errcode: %d, errmsg: %s", code, text);
// The format must be a string literal. Safe from any thread; nothing is
// written before InitTessel.
#pragma once

#include "tessel/tessel.h"

namespace tsl {

// The last component of a path ("a/b/c.cc" -> "c.cc").
const char* FileBaseName(const char* path);

// The current local time as the error line shows it; empty without CD.
std::string ErrorLineTime();

}  // namespace tsl

#define TSL_ERROR_LINE(format, ...)                                                                \
  do {                                                                                             \
    if (CD)                                                                                        \
      CD->logger()->write(2, "tsl", "%s[E][tsl] %s %-4d: " format "\n",                            \
                          ::tsl::ErrorLineTime().c_str(), ::tsl::FileBaseName(__FILE__), __LINE__, \
                          ##__VA_ARGS__);                                                          \
  } while (0)
