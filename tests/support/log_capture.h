// Collects every LogMessage line while alive, in place of the default output.
// One at a time per process; lines logged from any thread are kept.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace qnchat_test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> Lines() const;
  int Count(const std::string& text) const;
  bool Has(const std::string& text) const { return Count(text) > 0; }
  // A line that starts with prefix and carries more than a few characters
  // after it (an error text, say).
  bool HasPrefix(const std::string& prefix) const;

  void Add(const std::string& line);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
};

}  // namespace qnchat_test
