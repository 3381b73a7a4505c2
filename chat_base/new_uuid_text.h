// Fresh random identifiers: published files, screen-share streams, the local
// peer's identity.
// Safe from any thread.
#pragma once

#include <string>

namespace chat_base {

// A new random (version 4) identifier as 36 characters: 8-4-4-4-12 upper-case
// hexadecimal digits joined by "-". Empty when the system has no randomness
// to give.
std::string NewUuidText();

}  // namespace chat_base
