// A private X session for a test: Xvfb with openbox managing it. Construction
// returns once openbox manages the screen (bounded); the destructor stops
// openbox, then the server. openbox also ends when the test process dies.
// Used from one thread.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/xvfb.h"

namespace qnchat_test {

class X11Session {
 public:
  // Xvfb of width x height and openbox on it; openbox's output goes to
  // wm_log when given, else nowhere. The process's DISPLAY is left alone.
  X11Session(int width, int height, const std::string& wm_log = std::string());
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  // False when the server or the window manager could not be started.
  bool ok() const { return ok_; }
  // ":N", for $DISPLAY.
  const std::string& display() const { return xvfb_.display(); }

 private:
  Xvfb xvfb_;
  pid_t openbox_ = -1;
  bool ok_ = false;
};

}  // namespace qnchat_test
