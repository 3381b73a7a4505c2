// One person at the program, for tests that run whole copies of it: an X
// display of its own (Xvfb with openbox), a home, and the program started in
// a network namespace with its own IPC namespace and temporary directory;
// driven as a user would with xdotool, its database read with sqlite3.
// Needs root (namespaces). Used from one thread.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/x11_session.h"

namespace qnchat_test {

// Waits for pred, checking it every 100 ms (for conditions that live in
// other processes' files and windows); true when it held in time.
bool WaitFor(const std::function<bool()>& pred, int timeout_ms);

// Starts args (no shell) with output to log ("" for none); the child ends
// when the test process dies. Returns its pid, -1 on failure.
pid_t SpawnLogged(const std::vector<std::string>& args, const std::string& log);
// SIGTERM to pid (if > 0) and waits for it.
void StopProcess(pid_t pid);

class ProgramDesk {
 public:
  ProgramDesk() = default;
  // Stops the program, then openbox and the display.
  virtual ~ProgramDesk();
  ProgramDesk(const ProgramDesk&) = delete;
  ProgramDesk& operator=(const ProgramDesk&) = delete;

  // Creates home (with home/tmp), starts a 1280 x 900 display with openbox
  // and the program (binary dir's main/QNChat) inside ns; its output goes to
  // home/program.log. Returns at once; false when anything failed to start.
  bool Start(NetNamespace* ns, const std::string& home);
  // Waits for the main window ("QN快信") to show and reads its position.
  bool AwaitMainWindow(int timeout_ms);
  void StopProgram();

  const std::string& home() const { return home_; }
  const std::string& display_name() const { return session_->display(); }
  NetNamespace* ns() const { return ns_; }
  // The main window and its position on the screen (after AwaitMainWindow).
  unsigned long window() const { return window_; }
  int x() const { return x_; }
  int y() const { return y_; }

  // A query on the program's database, read-only; trailing newlines cut.
  std::string Sql(const std::string& query) const;
  // xdotool on this display; its exit status.
  int Xdo(const std::vector<std::string>& args, std::string* out = nullptr) const;
  // A click (repeat 2: a double click) at a point of the main window.
  bool Click(int dx, int dy, int repeat = 1) const;
  // The first visible window whose name or class (how: "--name", "--class")
  // matches, or 0.
  unsigned long Find(const std::string& how, const std::string& what) const;
  // The identity the program made at its first start; empty when it did not
  // show within timeout_ms.
  std::string OwnUuid(int timeout_ms) const;
  // The whole screen as a picture (ffmpeg's x11grab).
  bool Grab(const std::string& path) const;

 private:
  std::unique_ptr<X11Session> session_;
  pid_t program_ = -1;
  std::string home_;
  NetNamespace* ns_ = nullptr;
  unsigned long window_ = 0;
  int x_ = 0, y_ = 0;
};

}  // namespace qnchat_test
