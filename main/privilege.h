// Running as root and handing over to the invoking desktop user.
#pragma once

#include <string>

// True when the effective uid is 0.
bool IsProcessElevated();

// Runs program (searched on PATH when it has no slash) with the single
// argument marker as the user that invoked sudo or pkexec, with that user's
// groups, HOME, USER and LOGNAME. True only once the new program is running:
// false when no such user is known, or the switch of user or the exec failed.
bool XCreate(const std::string& program, const std::string& marker);
