// Per-user directories after the XDG base-directory rules. Reads the
// environment on every call, so tests may point HOME or XDG_* elsewhere.
#pragma once

#include <string>

namespace tsl {

// $XDG_DATA_HOME when absolute, else $HOME/.local/share (HOME from the
// password database when unset).
std::string UserDataDir();
// $XDG_CONFIG_HOME when absolute, else $HOME/.config.
std::string UserConfigDir();
// Creates dir and its missing parents with mode 0700; true when it exists.
bool MakeDirs(const std::string& dir);

}  // namespace tsl
