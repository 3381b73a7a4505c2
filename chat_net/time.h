// The monotonic millisecond clock of the runtime.
#pragma once

#include <cstdint>

namespace chat_net {

// Milliseconds of CLOCK_MONOTONIC, arbitrary origin. Safe from any thread.
uint64_t NowMs();

}  // namespace chat_net
