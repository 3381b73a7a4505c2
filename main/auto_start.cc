#include "main/auto_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "tessel/paths.h"

namespace {

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

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
  const std::string temp = file + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temp.c_str(), file.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

bool IsAutoStartSet() { return access(AutoStartFilePath().c_str(), F_OK) == 0; }

std::string ProgramFilePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n));
}
