// Small helpers for the tests of this folder: a shell command's output
// (standard output and error together), shell quoting, a whole file.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "support/shell_output.h"

namespace main_test {

inline std::string RunShell(const std::string& command, int* status = nullptr) {
  return qnchat_test::ShellOutput(command + " 2>&1", status);
}

// The file's whole content; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// text in single quotes for the shell.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The value of the first "name=value" line of output; "<none>" when absent.
inline std::string Field(const std::string& output, const std::string& name) {
  const std::string key = name + "=";
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    if (output.compare(pos, key.size(), key) == 0)
      return output.substr(pos + key.size(), end - pos - key.size());
    pos = end + 1;
  }
  return "<none>";
}

}  // namespace main_test
