// Encoding and decoding of ChatMessage records as FlatBuffers buffers. Both
// implementations are stateless; each transport owns its own instances.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "chat/chat_buffer.h"
#include "chat/chat_message.h"

namespace chat {

class ChatSerializer {
 public:
  virtual ~ChatSerializer() = default;
  // Builds the wire buffer of the message's wire fields (header .. email).
  virtual std::unique_ptr<ChatBuffer> Serialize(const ChatMessage& message) = 0;

  static std::unique_ptr<ChatSerializer> Create();
};

class ChatDeserializer {
 public:
  virtual ~ChatDeserializer() = default;
  // Verifies the buffer and overwrites every wire field of out, which the
  // caller creates fresh. Nothing of out may be trusted after false.
  virtual bool Deserialize(const ChatBuffer& buffer, ChatMessage& out) = 0;

  static std::unique_ptr<ChatDeserializer> Create();
};

class ChatSerializerImpl : public ChatSerializer {
 public:
  std::unique_ptr<ChatBuffer> Serialize(const ChatMessage& message) override;
};

class ChatDeserializerImpl : public ChatDeserializer {
 public:
  bool Deserialize(const ChatBuffer& buffer, ChatMessage& out) override;
};

// True when size bytes at data form a valid message buffer with a valid
// header. Costs a pass over the fields, not over the bytes, so the TCP
// receiver may ask it after every read. data must be aligned for int64.
bool IsCompleteChatMessage(const uint8_t* data, size_t size);

}  // namespace chat
