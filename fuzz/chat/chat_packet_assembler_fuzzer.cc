// A sequence of packets into one assembler. Each record is either raw bytes
// (any header, any length) or a packet with small header values, so that
// joins actually happen. Checks the slot bound and decodes what comes out.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "chat/chat_packet_assembler.h"
#include "chat/chat_serializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  chat::ChatPacketAssembler assembler;
  auto deserializer = chat::ChatDeserializer::Create();
  size_t at = 0;
  size_t payload_in = 0;
  while (at < size) {
    const uint8_t kind = data[at++];
    std::unique_ptr<chat::ChatTransportPacket> packet;
    if (kind & 1) {
      if (size - at < 4) break;
      const uint8_t seq = data[at], counter = data[at + 1], total = data[at + 2] % 8,
                    index = data[at + 3] % 9;
      at += 4;
      const size_t length = std::min<size_t>(kind >> 1, size - at);
      auto to_send = std::make_unique<chat::ChatTransportPacketToSend>(
          data + at, static_cast<int>(length), "198.18.0.1");
      to_send->SetSeq(seq);
      to_send->SetCounter(counter);
      to_send->SetTotal(total);
      to_send->SetIndex(index);
      packet = std::move(to_send);
      at += length;
      payload_in += length;
    } else {
      const size_t length = std::min<size_t>(kind >> 1, size - at);
      packet = std::make_unique<chat::ChatTransportPacketReceived>(
          chat::ReceivedBuffer::Copy(data + at, static_cast<int>(length)));
      at += length;
      if (length > chat::kChatPacketHeaderSize) payload_in += length - chat::kChatPacketHeaderSize;
    }
    auto joined = assembler.AddPacket(std::move(packet));
    if (!joined) continue;
    if (joined->Size() <= 0 || static_cast<size_t>(joined->Size()) > payload_in) abort();
    chat::ChatMessage message;
    if (deserializer->Deserialize(*joined, message)) assembler.IsDuplicate(message);
  }
  // Once per input: counting all 256 slots after every packet took over half
  // of the run time, and the slots are a fixed array the count walks whole.
  if (assembler.HeldPackets() > chat::ChatPacketAssembler::kSlotCount) abort();
  return 0;
}
