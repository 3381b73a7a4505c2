#include "support/child_process.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qnchat_test {

ChildProcess::ChildProcess(std::vector<std::string> args, int* out_fd) {
  int fds[2] = {-1, -1};
  if (out_fd && pipe(fds) != 0) return;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    // Gone with the test, however it ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (out_fd) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (out_fd) {
    close(fds[1]);
    if (pid_ > 0) {
      *out_fd = fds[0];
    } else {
      close(fds[0]);
    }
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::Ended(int* status) {
  if (reaped_) return true;
  if (pid_ <= 0) {
    *status = -1;
    return true;
  }
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
  reaped_ = true;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return true;
}

SessionBus::SessionBus()
    : daemon_({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, &out_fd_) {
  if (out_fd_ < 0) return;
  // The daemon prints its address once it listens.
  char c;
  while (read(out_fd_, &c, 1) == 1 && c != '\n') address_ += c;
  close(out_fd_);
  out_fd_ = -1;
  if (!address_.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

}  // namespace qnchat_test
