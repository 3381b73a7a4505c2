// One framed packet: a 20-byte big-endian header (seq, counter, total, index)
// followed by a piece of a serialized message. Uniquely owned; used on the
// core's network thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "chat/chat_buffer.h"

namespace chat {

constexpr int kChatPacketHeaderSize = 20;
// Payload bytes per datagram at most.
constexpr int kChatUdpPayloadSize = 1200;

class ChatTransportPacket {
 public:
  virtual ~ChatTransportPacket() = default;

  // Header fields; a packet shorter than the header reads 0 for each.
  int64_t Seq() const;
  uint32_t Counter() const;
  uint32_t Total() const;
  uint32_t Index() const;
  // Setters are no-ops on a packet shorter than the header.
  void SetSeq(int64_t seq);
  void SetCounter(uint32_t counter);
  void SetTotal(uint32_t total);
  void SetIndex(uint32_t index);

  // The whole packet, header included.
  const uint8_t* Bytes() const { return bytes_ ? bytes_->Data() : nullptr; }
  int ByteCount() const { return bytes_ ? bytes_->Size() : 0; }
  bool HasHeader() const { return ByteCount() >= kChatPacketHeaderSize; }
  // From offset 20; empty for a packet without a complete header.
  const uint8_t* Payload() const;
  int PayloadSize() const;

 protected:
  explicit ChatTransportPacket(std::unique_ptr<ChatBuffer> bytes) : bytes_(std::move(bytes)) {}

 private:
  uint64_t ReadBigEndian(int offset, int size) const;
  void WriteBigEndian(int offset, int size, uint64_t value);

  std::unique_ptr<ChatBuffer> bytes_;
};

// A packet as it arrived: the received bytes, possibly shorter than a header.
class ChatTransportPacketReceived : public ChatTransportPacket {
 public:
  explicit ChatTransportPacketReceived(std::unique_ptr<ChatBuffer> bytes)
      : ChatTransportPacket(std::move(bytes)) {}
};

// A packet to send: payload copied behind a zeroed header, which the setters
// fill in; keeps the dotted IPv4 destination.
class ChatTransportPacketToSend : public ChatTransportPacket {
 public:
  ChatTransportPacketToSend(const uint8_t* payload, int length, const std::string& destination);
  const std::string& Destination() const { return destination_; }

 private:
  std::string destination_;
};

}  // namespace chat
