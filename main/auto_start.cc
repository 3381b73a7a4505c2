#include "main/auto_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "tessel/paths.h"

std::string AutoStartFilePath() { return tsl::UserConfigDir() + "/autostart/QNChat.desktop"; }

std::string DesktopExecValue(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::string();
  // Quoted as one argument; inside the quotes ", `, $ and \ take a backslash.
  // The value as a whole is a desktop-file string, so every backslash is then
  // doubled, and % is doubled so it is not read as a field code.
  std::string quoted = "\"";
  for (char c : path) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return std::string();
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
    if (c == '\\')
      value += "\\\\";
    else if (c == '%')
      value += "%%";
    else
      value += c;
  }
  return value;
}

bool SetAutoStart(bool enabled, const std::string& program_path) {
  const std::string file = AutoStartFilePath();
  if (!enabled) return unlink(file.c_str()) == 0 || errno == ENOENT;

  const std::string exec = DesktopExecValue(program_path);
  if (exec.empty()) return false;
  if (!tsl::MakeDirs(file.substr(0, file.rfind('/')))) return false;
  const std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=QNChat\n"
      "Exec=" +
      exec +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  // Written beside and renamed, so a session starting meanwhile never reads
  // half an entry.
  return tsl::WriteFileAtomically(file, text, 0644);
}

bool IsAutoStartSet() { return access(AutoStartFilePath().c_str(), F_OK) == 0; }

std::string ProgramFilePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}
