// Small helpers for the tests of this folder: a shell command's output
// (standard output and error together), shell quoting, a whole file.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace main_test {

inline std::string RunShell(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  std::array<char, 512> buffer;
  while (fgets(buffer.data(), buffer.size(), pipe)) output += buffer.data();
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
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
