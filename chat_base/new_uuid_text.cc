#include "chat_base/new_uuid_text.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace chat_base {

std::string NewUuidText() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof(b)) {
    const ssize_t n = getrandom(b + got, sizeof(b) - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    got += static_cast<size_t>(n);
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const uint32_t data1 =
      (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  const unsigned data2 = (unsigned{b[4]} << 8) | b[5];
  const unsigned data3 = (unsigned{b[6]} << 8) | b[7];
  char text[37];
  snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
           static_cast<unsigned>(data1), data2, data3, b[8], b[9], b[10], b[11], b[12], b[13],
           b[14], b[15]);
  return std::string(text, 36);
}

}  // namespace chat_base
