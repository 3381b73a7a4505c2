// Start at logon through the XDG autostart directory: the entry
// $XDG_CONFIG_HOME/autostart/QNChat.desktop (default ~/.config/autostart)
// whose Exec runs the program. Called on the GUI thread.
#pragma once

#include <string>

// Where the entry lives, after the XDG rules of the current environment.
std::string AutoStartFilePath();

// enabled: writes the entry for program_path (replacing any older one in one
// step). Otherwise removes it; an absent entry is success. False when the
// entry could not be written or removed, or the path cannot be expressed.
bool SetAutoStart(bool enabled, const std::string& program_path);

// True when the entry exists.
bool IsAutoStartSet();

// This program's file, from /proc/self/exe; empty when unknown.
std::string ProgramFilePath();

// The Exec value that runs path with no arguments, quoted and escaped as the
// desktop entry format asks; empty for a path it cannot carry (line breaks,
// control characters, a relative path).
std::string DesktopExecValue(const std::string& path);
