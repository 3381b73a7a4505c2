#include "chat/chat_serializer.h"

#include <string>

#include "chat/chat_command.h"
#include "chat/chat_message_generated.h"
#include "base/log.h"

namespace chat {

namespace {

constexpr size_t kInitialBuilderSize = 1024;
constexpr size_t kShortestBuffer = 11;  // a buffer this short cannot hold a header
constexpr flatbuffers::uoffset_t kVerifierMaxDepth = 64;
constexpr flatbuffers::uoffset_t kVerifierMaxTables = 1000000;

// Verifies and returns the root, or null.
const wire::WireMessage* VerifiedRoot(const uint8_t* data, size_t size) {
  if (data == nullptr || size <= kShortestBuffer) return nullptr;
  if (flatbuffers::ReadScalar<flatbuffers::uoffset_t>(data) == 0) return nullptr;
  flatbuffers::Verifier verifier(data, size, kVerifierMaxDepth, kVerifierMaxTables, true);
  if (!wire::VerifyWireMessageBuffer(verifier)) return nullptr;
  const wire::WireMessage* root = wire::GetWireMessage(data);
  const wire::WireHeader* header = root->header();
  if (header == nullptr) return nullptr;
  const std::array<uint8_t, 8> bytes = {header->b0(), header->b1(), header->b2(), header->b3(),
                                        header->b4(), header->b5(), header->b6(), header->b7()};
  if (bytes != kChatMessageHeader) return nullptr;
  return root;
}

std::string ToString(const flatbuffers::String* text) {
  return text ? std::string(text->data(), text->size()) : std::string();
}

}  // namespace

std::unique_ptr<ChatSerializer> ChatSerializer::Create() {
  return std::make_unique<ChatSerializerImpl>();
}

std::unique_ptr<ChatDeserializer> ChatDeserializer::Create() {
  return std::make_unique<ChatDeserializerImpl>();
}

std::unique_ptr<ChatBuffer> ChatSerializerImpl::Serialize(const ChatMessage& message) {
  flatbuffers::FlatBufferBuilder builder(kInitialBuilderSize);
  const std::string command_text = CommandToString(message.command);

  // This order of strings and fields fixes the byte layout peers produce.
  auto email = builder.CreateString(message.email);
  auto telephone = builder.CreateString(message.telephone);
  auto position = builder.CreateString(message.position);
  auto section = builder.CreateString(message.section);
  auto uri = builder.CreateString(message.uri);
  auto text = builder.CreateString(message.text);
  auto command = builder.CreateString(command_text);
  auto uuid = builder.CreateString(message.uuid);
  auto host_name = builder.CreateString(message.hostName);
  auto nick_name = builder.CreateString(message.nickName);

  const auto& h = message.header;
  const wire::WireHeader header(h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7]);
  wire::WireMessageBuilder table(builder);
  table.add_ref_seq(message.refSeq);
  table.add_seq(message.seq);
  table.add_email(email);
  table.add_telephone(telephone);
  table.add_position(position);
  table.add_section(section);
  table.add_uri(uri);
  table.add_port(message.port);
  table.add_text(text);
  table.add_command(command);
  table.add_uuid(uuid);
  table.add_host_name(host_name);
  table.add_nick_name(nick_name);
  table.add_header(&header);
  builder.Finish(table.Finish());

  LogMessage(kLogDebug, "serialize message %d [%s]", message.command, command_text.c_str());
  return std::make_unique<SerializedBuffer>(builder.Release());
}

bool ChatDeserializerImpl::Deserialize(const ChatBuffer& buffer, ChatMessage& out) {
  if (buffer.Size() <= 0) return false;
  const wire::WireMessage* root = VerifiedRoot(buffer.Data(), static_cast<size_t>(buffer.Size()));
  if (root == nullptr) return false;
  out.header = kChatMessageHeader;
  out.seq = root->seq();
  out.refSeq = root->ref_seq();
  out.nickName = ToString(root->nick_name());
  out.hostName = ToString(root->host_name());
  out.uuid = ToString(root->uuid());
  out.command = CommandFromString(ToString(root->command()));
  out.text = ToString(root->text());
  out.port = root->port();
  out.uri = ToString(root->uri());
  out.section = ToString(root->section());
  out.position = ToString(root->position());
  out.telephone = ToString(root->telephone());
  out.email = ToString(root->email());
  return true;
}

bool IsCompleteChatMessage(const uint8_t* data, size_t size) {
  return VerifiedRoot(data, size) != nullptr;
}

}  // namespace chat
