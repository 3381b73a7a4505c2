// Running as root and handing over to the invoking desktop user.
#pragma once

#include <string>

// True when the effective uid is 0.
bool IsProcessElevated();

// Starts command_line's program (argv[0], then the marker) as the user that
// invoked sudo or pkexec; false when no such user is known or the start
// failed.
bool XCreate(const std::string& program, const std::string& marker);
