// Readable bytes at an offset. Uniquely owned and deleted through the virtual
// destructor; not thread-safe, used by one thread at a time.
#pragma once

#include <cstdint>

namespace chat_base {

class Buffer {
 public:
  virtual ~Buffer() = default;

  // Number of bytes held.
  virtual uint32_t Size() const = 0;

  // Copies up to length bytes starting at offset into destination without
  // changing the buffer; returns how many were copied (0 at or past the end).
  virtual uint32_t ReadAt(void* destination, uint32_t length, uint32_t offset) const = 0;
};

}  // namespace chat_base
