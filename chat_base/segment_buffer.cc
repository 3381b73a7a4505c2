#include "chat_base/segment_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace chat_base {

uint32_t SegmentBuffer::PageSize() {
  static const uint32_t page = [] {
    long value = sysconf(_SC_PAGESIZE);
    return value > 0 ? static_cast<uint32_t>(value) : 4096u;
  }();
  return page;
}

SegmentBuffer::SegmentBuffer() = default;
SegmentBuffer::~SegmentBuffer() = default;

uint32_t SegmentBuffer::Size() const { return size_; }

uint32_t SegmentBuffer::ReadAt(void* destination, uint32_t length, uint32_t offset) const {
  if (offset >= size_ || !destination) return 0;
  const uint32_t page = PageSize();
  const uint32_t total = std::min(length, size_ - offset);
  uint8_t* out = static_cast<uint8_t*>(destination);
  uint32_t done = 0;
  while (done < total) {
    const uint32_t position = offset + done;
    const uint32_t in_page = position % page;
    const uint32_t piece = std::min(total - done, page - in_page);
    std::memcpy(out + done, segments_[position / page].get() + in_page, piece);
    done += piece;
  }
  return total;
}

bool SegmentBuffer::Append(const void* source, uint32_t length) {
  if (length == 0) return true;
  if (!source || length > std::numeric_limits<uint32_t>::max() - size_) return false;
  if (capacity_ < static_cast<uint64_t>(size_) + length) Reserve(size_ + length);
  const uint32_t page = PageSize();
  const uint8_t* in = static_cast<const uint8_t*>(source);
  uint32_t done = 0;
  while (done < length) {
    const uint32_t in_page = size_ % page;
    const uint32_t piece = std::min(length - done, page - in_page);
    std::memcpy(segments_[size_ / page].get() + in_page, in + done, piece);
    done += piece;
    size_ += piece;
  }
  return true;
}

void SegmentBuffer::Reserve(uint32_t n) {
  const uint32_t page = PageSize();
  const size_t wanted = (static_cast<uint64_t>(n) + page - 1) / page;
  while (segments_.size() < wanted) segments_.emplace_back(new uint8_t[page]());
  capacity_ = static_cast<uint64_t>(wanted) * page;
}

void SegmentBuffer::Clear() { size_ = 0; }

}  // namespace chat_base
