#include "main/privilege.h"

#include <QDebug>
#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

#include "main/base/log.h"
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
  const gid_t gid = user->pw_gid;
  qDebug().noquote() << "[Cmd]:" << QString::fromStdString(program + " " + marker);
  const pid_t child = fork();
  if (child == 0) {
    if (initgroups(name.c_str(), gid) != 0 || setgid(gid) != 0 ||
        setuid(static_cast<uid_t>(uid)) != 0)
      _exit(127);
    setenv("HOME", home.c_str(), 1);
    setenv("USER", name.c_str(), 1);
    setenv("LOGNAME", name.c_str(), 1);
    execl(program.c_str(), program.c_str(), marker.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const bool ok = child > 0;
  if (!ok) {
    LogMessage(kLogWarning, "CreateProcessWithTokenW Failed: %ld", static_cast<long>(errno));
    ReportLastError("[XCreate]CreateProcessWithTokenW Failed:");
  }
  qDebug() << "[XCreate]End Result: return" << ok;
  return ok;
}
