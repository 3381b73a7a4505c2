// One person at the program, for tests that run whole copies of it: an X
// display of its own (Xvfb with openbox), a home, and the program started in
// a network namespace with its own IPC namespace and temporary directory;
// driven as a user would with xdotool, its database read with sqlite3.
// Needs root (namespaces). Used from one thread.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/types.h>

#include <filesystem>
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

// Fixture for two people, Ann (desks_[0]) and Ben (desks_[1]), each a Desk
// (ProgramDesk or a subclass) on one network segment, their homes under one
// temporary folder (kept when QNCHAT_KEEP_HOMES is set). SetUp returns once
// both main windows show. Derived fixtures set root_prefix_ and wait_ms_ in
// their constructor.
template <class Desk>
class TwoDesksTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "needs root for network namespaces";
    std::string pattern = "/tmp/" + root_prefix_ + "-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    network_ = std::make_unique<Network>();
    std::vector<NetNamespace*> hosts = network_->MakeSegment(2);
    ASSERT_EQ(hosts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      const std::string home = root_ + (i == 0 ? "/ann" : "/ben");
      ASSERT_TRUE(desks_[i].Start(hosts[i], home)) << "desk did not start; logs in " << home;
      ASSERT_NO_FATAL_FAILURE(DeskStarted(desks_[i]));
    }
    for (Desk& desk : desks_) {
      ASSERT_TRUE(desk.AwaitMainWindow(wait_ms_)) << "no window; program log in " << desk.home();
    }
  }

  void TearDown() override {
    for (Desk& desk : desks_) desk.StopProgram();
    network_.reset();
    if (!root_.empty() && !getenv("QNCHAT_KEEP_HOMES")) std::filesystem::remove_all(root_);
  }

  // Called once a desk has started, before the windows are awaited.
  virtual void DeskStarted(Desk&) {}

  std::string root_prefix_ = "qnchat-two";
  int wait_ms_ = 15000;
  std::string root_;
  std::unique_ptr<Network> network_;
  Desk desks_[2];
};

}  // namespace qnchat_test
