#include "support/x11_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace qnchat_test {

X11Session::X11Session(int width, int height, const std::string& wm_log) : xvfb_(width, height) {
  if (!xvfb_.ok()) return;
  // openbox runs its start-up command once it manages the screen; the
  // command writes into a FIFO that is awaited here, bounded.
  char dir[] = "/tmp/qnchat-openbox-XXXXXX";
  if (mkdtemp(dir) == nullptr) return;
  const std::string fifo = std::string(dir) + "/ready";
  int fd = -1;
  if (mkfifo(fifo.c_str(), 0600) == 0) fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd >= 0) {
    std::vector<std::string> args = {"env",          "DISPLAY=" + xvfb_.display(),
                                     "openbox",      "--sm-disable",
                                     "--startup",    "sh -c 'echo up > " + fifo + "'"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string log = wm_log.empty() ? std::string("/dev/null") : wm_log;
    openbox_ = fork();
    if (openbox_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
      }
      execvp(argv[0], argv.data());
      _exit(127);
    }
    pollfd ready{fd, POLLIN, 0};
    ok_ = openbox_ > 0 && poll(&ready, 1, 20000) == 1 && (ready.revents & POLLIN);
    close(fd);
  }
  unlink(fifo.c_str());
  rmdir(dir);
}

X11Session::~X11Session() {
  if (openbox_ > 0) {
    kill(openbox_, SIGTERM);
    waitpid(openbox_, nullptr, 0);
  }
}

}  // namespace qnchat_test
