#include "support/xvfb.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qnchat_test {

Xvfb::Xvfb(int width, int height, std::vector<std::string> extra_args) {
  int fds[2];
  if (pipe(fds) != 0) return;
  std::vector<std::string> args = {
      "Xvfb",      "-displayfd", std::to_string(fds[1]),
      "-screen",   "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
      "-nolisten", "tcp",        "-noreset"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    // Keep the test's output readable; Xvfb is chatty about fonts.
    if (FILE* null = fopen("/dev/null", "w")) dup2(fileno(null), STDERR_FILENO);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return;
  }
  // Xvfb writes the display number once it accepts connections; end of file
  // means it died first.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) display_ = ":" + number;
}

Xvfb::~Xvfb() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace qnchat_test
