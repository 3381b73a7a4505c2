// Fresh random identifiers for published files and screen-share streams.
// Safe from any thread.
#pragma once

#include <string>

namespace chat {

// A new random (version 4) identifier as 36 characters: 8-4-4-4-12 upper-case
// hexadecimal digits joined by "-". Empty when the system has no randomness
// to give.
std::string NewUuidText();

}  // namespace chat
