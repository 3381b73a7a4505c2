#include "chat/chat_transport_packet.h"

#include <cstring>

namespace chat {

namespace {

std::unique_ptr<ChatBuffer> MakePacketBytes(const uint8_t* payload, int length) {
  if (length < 0) length = 0;
  const int size = kChatPacketHeaderSize + length;
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
  std::memset(bytes.get(), 0, kChatPacketHeaderSize);
  if (length > 0) std::memcpy(bytes.get() + kChatPacketHeaderSize, payload, length);
  return std::make_unique<ReceivedBuffer>(std::move(bytes), size);
}

}  // namespace

uint64_t ChatTransportPacket::ReadBigEndian(int offset, int size) const {
  if (!HasHeader()) return 0;
  const uint8_t* p = Bytes() + offset;
  uint64_t value = 0;
  for (int i = 0; i < size; ++i) value = (value << 8) | p[i];
  return value;
}

void ChatTransportPacket::WriteBigEndian(int offset, int size, uint64_t value) {
  if (!HasHeader()) return;
  uint8_t* p = bytes_->Data() + offset;
  for (int i = size - 1; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(value & 0xFF);
    value >>= 8;
  }
}

int64_t ChatTransportPacket::Seq() const { return static_cast<int64_t>(ReadBigEndian(0, 8)); }
uint32_t ChatTransportPacket::Counter() const { return ReadBigEndian(8, 4); }
uint32_t ChatTransportPacket::Total() const { return ReadBigEndian(12, 4); }
uint32_t ChatTransportPacket::Index() const { return ReadBigEndian(16, 4); }

void ChatTransportPacket::SetSeq(int64_t seq) { WriteBigEndian(0, 8, static_cast<uint64_t>(seq)); }
void ChatTransportPacket::SetCounter(uint32_t counter) { WriteBigEndian(8, 4, counter); }
void ChatTransportPacket::SetTotal(uint32_t total) { WriteBigEndian(12, 4, total); }
void ChatTransportPacket::SetIndex(uint32_t index) { WriteBigEndian(16, 4, index); }

const uint8_t* ChatTransportPacket::Payload() const {
  return HasHeader() ? Bytes() + kChatPacketHeaderSize : nullptr;
}

int ChatTransportPacket::PayloadSize() const {
  return HasHeader() ? ByteCount() - kChatPacketHeaderSize : 0;
}

ChatTransportPacketToSend::ChatTransportPacketToSend(const uint8_t* payload, int length,
                                                     const std::string& destination)
    : ChatTransportPacket(MakePacketBytes(payload, length)), destination_(destination) {}

}  // namespace chat
