// A helper program a test runs beside itself (a bus daemon, a mock service,
// a tray host, xdotool): started at construction, stopped (SIGTERM) and
// reaped by the destructor, and ended by the kernel when the test process
// dies. Used from one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qnchat_test {

class ChildProcess {
 public:
  // Runs args (no shell). With out_fd, the child's standard output comes
  // through a pipe whose reading end is stored there (the caller closes it).
  explicit ChildProcess(std::vector<std::string> args, int* out_fd = nullptr);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool ok() const { return pid_ > 0; }
  // True once the process has ended; *status is then its exit status (-1
  // when it did not exit normally). Does not block.
  bool Ended(int* status);

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// A private D-Bus session bus (dbus-daemon) for the test; construction
// points DBUS_SESSION_BUS_ADDRESS at it, so make it before anything connects
// to the session bus (before the application object).
class SessionBus {
 public:
  SessionBus();
  bool ok() const { return !address_.empty(); }
  const std::string& address() const { return address_; }

 private:
  int out_fd_ = -1;
  ChildProcess daemon_;
  std::string address_;
};

}  // namespace qnchat_test
