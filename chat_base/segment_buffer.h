// A Buffer that grows in page-sized segments without moving what it holds.
// Owns its segments; they are never freed or moved until the buffer is
// destroyed, so Clear and refill reuse them. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chat_base/buffer.h"

namespace chat_base {

class SegmentBuffer : public Buffer {
 public:
  SegmentBuffer();
  ~SegmentBuffer() override;

  uint32_t Size() const override;
  uint32_t ReadAt(void* destination, uint32_t length, uint32_t offset) const override;

  // Appends length bytes, growing by whole pages when needed. False, with
  // nothing appended, when the size would pass the 32-bit limit.
  bool Append(const void* source, uint32_t length);

  // Makes room for at least n bytes: appends zero-filled segments until there
  // are ceil(n / page) of them, and sets the capacity to that many pages.
  void Reserve(uint32_t n);

  // Forgets the bytes held; keeps the segments for reuse.
  void Clear();

  // Bytes the segments can hold, as last computed by Reserve.
  uint64_t GetCapacity() const { return capacity_; }
  size_t GetSegmentCount() const { return segments_.size(); }

  // The system's memory page size, asked once and cached for the process.
  static uint32_t PageSize();

 private:
  std::vector<std::unique_ptr<uint8_t[]>> segments_;  // each PageSize() bytes
  uint32_t size_ = 0;
  uint64_t capacity_ = 0;
};

}  // namespace chat_base
