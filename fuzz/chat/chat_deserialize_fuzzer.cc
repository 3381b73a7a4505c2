// Arbitrary bytes into the deserializer; whatever decodes must encode and
// decode again to the same wire fields (a command word without a code comes
// back as 0).
#include <cstdint>
#include <cstdlib>

#include "chat/chat_command.h"
#include "chat/chat_serializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2000000) return 0;
  auto buffer = chat::ReceivedBuffer::Copy(data, static_cast<int>(size));
  auto deserializer = chat::ChatDeserializer::Create();
  chat::ChatMessage message;
  if (!deserializer->Deserialize(*buffer, message)) return 0;
  auto again = chat::ChatSerializer::Create()->Serialize(message);
  chat::ChatMessage decoded;
  if (!deserializer->Deserialize(*again, decoded)) abort();
  // Options without a code print as nothing, so such a word comes back as 0.
  const int32_t command = chat::CommandCode(message.command) != 0 ? message.command : 0;
  if (decoded.seq != message.seq || decoded.refSeq != message.refSeq ||
      decoded.command != command || decoded.port != message.port ||
      decoded.nickName != message.nickName || decoded.hostName != message.hostName ||
      decoded.uuid != message.uuid || decoded.text != message.text || decoded.uri != message.uri ||
      decoded.section != message.section || decoded.position != message.position ||
      decoded.telephone != message.telephone || decoded.email != message.email) {
    abort();
  }
  return 0;
}
