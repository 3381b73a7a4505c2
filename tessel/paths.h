// Per-user directories after the XDG base-directory rules. Reads the
// environment on every call, so tests may point HOME or XDG_* elsewhere.
#pragma once

#include <sys/types.h>

#include <string>

namespace tsl {

// $XDG_DATA_HOME when absolute, else $HOME/.local/share (HOME from the
// password database when unset).
std::string UserDataDir();
// $XDG_CONFIG_HOME when absolute, else $HOME/.config.
std::string UserConfigDir();
// Creates dir and its missing parents with mode 0700; true when it exists.
bool MakeDirs(const std::string& dir);

// Writes all of data to fd, retrying short writes and interruptions; false on
// the first error (errno tells which).
bool WriteAll(int fd, const std::string& data);

// Replaces path with contents so that a reader, or a crash, never sees half a
// file: written to path + ".tmp", synced, renamed over path, and the directory
// synced. The directory must exist. On failure the temporary file is removed,
// path is untouched, and errno holds the cause.
bool WriteFileAtomically(const std::string& path, const std::string& contents, mode_t mode);

}  // namespace tsl
