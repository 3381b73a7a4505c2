// Byte buffers that carry serialized messages and packets between the wire
// format and the transports. Uniquely owned; not thread-safe (each lives on
// the core's network thread or with the caller that built it).
#pragma once

#include <cstdint>
#include <memory>

#include <flatbuffers/flatbuffers.h>

namespace chat {

class ChatBuffer {
 public:
  virtual ~ChatBuffer() = default;
  virtual uint8_t* Data() = 0;
  virtual const uint8_t* Data() const = 0;
  virtual int Size() const = 0;
};

// Owns an array; the array may be larger than Size (a fixed receive buffer
// wrapped with the count actually received).
class ReceivedBuffer : public ChatBuffer {
 public:
  ReceivedBuffer(std::unique_ptr<uint8_t[]> bytes, int size);
  // Copies size bytes into a new array of exactly that size.
  static std::unique_ptr<ReceivedBuffer> Copy(const uint8_t* data, int size);

  uint8_t* Data() override { return bytes_.get(); }
  const uint8_t* Data() const override { return bytes_.get(); }
  int Size() const override { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  int size_;
};

// The finished buffer detached from a FlatBuffers builder, with its allocator.
class SerializedBuffer : public ChatBuffer {
 public:
  explicit SerializedBuffer(flatbuffers::DetachedBuffer buffer);

  uint8_t* Data() override { return buffer_.data(); }
  const uint8_t* Data() const override { return buffer_.data(); }
  int Size() const override { return static_cast<int>(buffer_.size()); }

 private:
  flatbuffers::DetachedBuffer buffer_;
};

}  // namespace chat
