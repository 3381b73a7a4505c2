// Starts a private Xvfb server for a test and kills it in the destructor.
// The server picks a free display number itself and reports it once it
// accepts connections, so nothing is polled. Used from one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qnchat_test {

class Xvfb {
 public:
  // Screen 0 of width x height at depth 24; extra_args go to Xvfb as they
  // are (e.g. {"-extension", "MIT-SHM"} to turn shared memory off).
  Xvfb(int width, int height, std::vector<std::string> extra_args = {});
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // False when the server could not be started; display() is empty then.
  bool ok() const { return !display_.empty(); }
  // ":N", for $DISPLAY.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace qnchat_test
