#include "main/privilege.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDebug>

#include <cerrno>
#include <cstdlib>

#include "base/log.h"
#include "main/log_sink.h"

bool IsProcessElevated() {
  const bool elevated = geteuid() == 0;
  LogMessage(kLogDebug, elevated ? "The process is running with administrator privileges."
                                 : "The process is not running with administrator privileges.");
  return elevated;
}

namespace {

// The desktop user behind sudo or pkexec; -1 when there is none.
long InvokingUid() {
  for (const char* name : {"SUDO_UID", "PKEXEC_UID"}) {
    const char* value = getenv(name);
    if (value && *value) {
      char* end = nullptr;
      const long uid = strtol(value, &end, 10);
      if (end && *end == '\0' && uid > 0) return uid;
    }
  }
  return -1;
}

// The group of the invoking user: SUDO_GID when given, else the passwd entry's.
gid_t InvokingGid(gid_t fallback) {
  const char* sudo_uid = getenv("SUDO_UID");
  if (!sudo_uid || !*sudo_uid) return fallback;  // pkexec names no group
  const char* value = getenv("SUDO_GID");
  if (!value || !*value) return fallback;
  char* end = nullptr;
  const long gid = strtol(value, &end, 10);
  return end && *end == '\0' && gid > 0 ? static_cast<gid_t>(gid) : fallback;
}

// In the forked child: becomes the user and runs the program. Returns only on
// failure, with errno set.
void BecomeUserAndExec(uid_t uid, gid_t gid, const std::string& name, const std::string& home,
                       const std::string& program, const std::string& marker) {
  if (initgroups(name.c_str(), gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return;
  // The rights must be gone for good, not only set aside.
  if (setuid(0) == 0) {
    errno = EPERM;
    return;
  }
  setenv("HOME", home.c_str(), 1);
  setenv("USER", name.c_str(), 1);
  setenv("LOGNAME", name.c_str(), 1);
  char* const args[] = {const_cast<char*>(program.c_str()), const_cast<char*>(marker.c_str()),
                        nullptr};
  execvp(program.c_str(), args);
}

}  // namespace

bool XCreate(const std::string& program, const std::string& marker) {
  const long uid = InvokingUid();
  if (uid < 0) {
    // Nobody to hand over to: the session itself is the administrator's.
    qDebug() << "[XCreate]Is Explorer Process! return FALSE.";
    return false;
  }
  const passwd* user = getpwuid(static_cast<uid_t>(uid));
  if (!user) {
    LogMessage(kLogWarning, "OpenProcessToken Failed: %ld", static_cast<long>(errno));
    ReportLastError("[XCreate]OpenProcessToken Failed:");
    qDebug() << "[XCreate]End Result: return" << false;
    return false;
  }
  const std::string name = user->pw_name;
  const std::string home = user->pw_dir;
  const gid_t gid = InvokingGid(user->pw_gid);
  qDebug().noquote() << "[Cmd]:" << QString::fromStdString(program + " " + marker);

  // The child reports a failed switch or exec through this pipe; a successful
  // exec closes it empty. Without it a child that never ran would count as a
  // hand-over and the elevated copy would quit with nobody left running.
  int report[2];
  bool ok = pipe2(report, O_CLOEXEC) == 0;
  if (ok) {
    const pid_t child = fork();
    if (child == 0) {
      close(report[0]);
      BecomeUserAndExec(static_cast<uid_t>(uid), gid, name, home, program, marker);
      const int code = errno;
      (void)!write(report[1], &code, sizeof(code));
      _exit(127);
    }
    close(report[1]);
    int child_errno = 0;
    ssize_t n = -1;
    if (child > 0) {
      do n = read(report[0], &child_errno, sizeof(child_errno));
      while (n < 0 && errno == EINTR);
    }
    const int fork_errno = errno;
    close(report[0]);
    if (child < 0) {
      ok = false;
      errno = fork_errno;
    } else if (n != 0) {
      ok = false;
      waitpid(child, nullptr, 0);
      errno = n == static_cast<ssize_t>(sizeof(child_errno)) ? child_errno : fork_errno;
    }
  }
  if (!ok) {
    LogMessage(kLogWarning, "CreateProcessWithTokenW Failed: %ld", static_cast<long>(errno));
    ReportLastError("[XCreate]CreateProcessWithTokenW Failed:");
  }
  qDebug() << "[XCreate]End Result: return" << ok;
  return ok;
}
