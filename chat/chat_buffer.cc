#include "chat/chat_buffer.h"

#include <cstring>
#include <utility>

namespace chat {

ReceivedBuffer::ReceivedBuffer(std::unique_ptr<uint8_t[]> bytes, int size)
    : bytes_(std::move(bytes)), size_(size < 0 ? 0 : size) {}

std::unique_ptr<ReceivedBuffer> ReceivedBuffer::Copy(const uint8_t* data, int size) {
  if (size < 0) size = 0;
  // new[] memory is aligned for any scalar, which the FlatBuffers accessors rely on.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  return std::make_unique<ReceivedBuffer>(std::move(bytes), size);
}

SerializedBuffer::SerializedBuffer(flatbuffers::DetachedBuffer buffer)
    : buffer_(std::move(buffer)) {}

}  // namespace chat
