// Runs a shell command for tests and benchmarks and returns its standard
// output; *status gets its exit code (-1 when it did not exit normally).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace qnchat_test {

inline std::string ShellOutput(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

}  // namespace qnchat_test
