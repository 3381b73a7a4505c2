// Receive state of one sender (one source address on UDP, one accepted
// connection on TCP): joins the packets of a message again and remembers the
// last 200 delivered seqs to drop repeats. Bounded: 256 slots, 200 seqs.
// Owned by one transport and used only on the core's network thread.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

#include "chat/chat_buffer.h"
#include "chat/chat_message.h"
#include "chat/chat_transport_packet.h"

namespace chat {

class ChatPacketAssembler {
 public:
  static constexpr int kSlotCount = 256;
  static constexpr size_t kDeliveredCount = 200;

  ChatPacketAssembler() = default;
  ChatPacketAssembler(const ChatPacketAssembler&) = delete;
  ChatPacketAssembler& operator=(const ChatPacketAssembler&) = delete;

  // Takes a packet; returns one complete serialized message when this packet
  // completes one, otherwise none. Malformed packets are dropped silently.
  std::unique_ptr<ChatBuffer> AddPacket(std::unique_ptr<ChatTransportPacket> packet);

  // True when the message was delivered before (or its seq is negative);
  // a new message is recorded as delivered by the same call.
  bool IsDuplicate(const ChatMessage& message);

  // Packets currently held in the slots (for tests and bounds checks).
  int HeldPackets() const;

 private:
  std::array<std::unique_ptr<ChatTransportPacket>, kSlotCount> slots_;
  std::deque<int64_t> delivered_;  // oldest first
};

}  // namespace chat
