#include "chat/chat_packet_assembler.h"

#include <algorithm>
#include <cstring>

#include "base/log.h"

namespace chat {

std::unique_ptr<ChatBuffer> ChatPacketAssembler::AddPacket(
    std::unique_ptr<ChatTransportPacket> packet) {
  // Fewer bytes than the header carry nothing readable.
  if (!packet || !packet->HasHeader()) return nullptr;
  const int64_t seq = packet->Seq();
  const uint32_t counter = packet->Counter();
  const uint32_t total = packet->Total();
  const uint32_t index = packet->Index();
  LogMessage(kLogDebug, "recv: %d-%d-%d", static_cast<int>(counter), static_cast<int>(total),
             static_cast<int>(index));

  if (total == 1) {
    if (index != 0 || packet->PayloadSize() == 0) return nullptr;
    return ReceivedBuffer::Copy(packet->Payload(), packet->PayloadSize());
  }
  // An index outside the message cannot belong to it; such a packet would
  // only take the slot of a real one.
  if (total == 0 || total >= static_cast<uint32_t>(kSlotCount) || index >= total) return nullptr;

  slots_[counter % kSlotCount] = std::move(packet);
  const uint32_t first = counter - index;  // wraps like the sender's counter
  int64_t sum = 0;
  for (uint32_t j = 0; j < total; ++j) {
    auto& slot = slots_[(first + j) % kSlotCount];
    if (!slot) return nullptr;
    // A neighbour of another message (or of another place in this one, after
    // the counter wrapped) ends the attempt; the retransmission brings it again.
    if (slot->Seq() != seq || slot->Total() != total || slot->Index() != j) {
      slot.reset();
      return nullptr;
    }
    sum += slot->PayloadSize();
  }

  std::unique_ptr<uint8_t[]> joined(new uint8_t[sum > 0 ? sum : 1]);
  int64_t offset = 0;
  for (uint32_t j = 0; j < total; ++j) {
    auto& slot = slots_[(first + j) % kSlotCount];
    if (slot->PayloadSize() > 0) {
      std::memcpy(joined.get() + offset, slot->Payload(), slot->PayloadSize());
    }
    offset += slot->PayloadSize();
    slot.reset();
  }
  if (sum == 0) return nullptr;
  return std::make_unique<ReceivedBuffer>(std::move(joined), static_cast<int>(sum));
}

bool ChatPacketAssembler::IsDuplicate(const ChatMessage& message) {
  if (message.seq < 0) return true;
  if (std::find(delivered_.begin(), delivered_.end(), message.seq) != delivered_.end()) {
    return true;
  }
  while (delivered_.size() >= kDeliveredCount) delivered_.pop_front();
  delivered_.push_back(message.seq);
  return false;
}

int ChatPacketAssembler::HeldPackets() const {
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(),
                                        [](const auto& slot) { return slot != nullptr; }));
}

}  // namespace chat
