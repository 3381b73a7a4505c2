#include "tessel/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tsl {
namespace {

std::string HomeDir() {
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/tmp";
}

std::string XdgDir(const char* var, const char* fallback) {
  const char* value = getenv(var);
  // Relative values are invalid by the XDG rules and must be ignored.
  if (value && value[0] == '/') return value;
  return HomeDir() + fallback;
}

}  // namespace

std::string UserDataDir() { return XdgDir("XDG_DATA_HOME", "/.local/share"); }

std::string UserConfigDir() { return XdgDir("XDG_CONFIG_HOME", "/.config"); }

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return false;
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tsl
