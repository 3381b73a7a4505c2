// An arbitrary byte stream into a TCP receive connection, cut into reads of
// the sizes the input chooses, then the sender's close. Whatever the gathered
// bytes claim to be, the connection must stay within its bound and hand over
// only what decodes.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "chat/chat_recv_connection.h"
#include "chat/chat_serializer.h"
#include "chat_base/ref_ptr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // No socket: the bytes come from the input, not from the network.
  auto connection = chat_base::MakeRefCounted<chat::ChatRecvConnection>(
      std::unique_ptr<chat_net::Socket>(), nullptr);
  auto deserializer = chat::ChatDeserializer::Create();
  using State = chat::ChatRecvConnection::State;
  State state = State::kNeedMore;
  size_t at = 0;
  while (at < size && state == State::kNeedMore) {
    // Each read: one byte of length (scaled so large messages come quickly), then the bytes.
    const size_t wanted = 1 + static_cast<size_t>(data[at++]) * 37;
    const size_t room = static_cast<size_t>(connection->Room());
    const size_t length = std::min({wanted, size - at, room});
    if (length == 0) break;
    state = connection->Append(data + at, static_cast<int>(length));
    at += length;
    if (connection->GatheredSize() > chat::ChatRecvConnection::kMaxPacketSize) abort();
  }
  if (state == State::kNeedMore) state = connection->Finish();
  if (state != State::kComplete) return 0;
  auto joined = connection->assembler()->AddPacket(connection->TakePacket());
  if (!joined) return 0;
  chat::ChatMessage message;
  if (deserializer->Deserialize(*joined, message)) connection->assembler()->IsDuplicate(message);
  return 0;
}
