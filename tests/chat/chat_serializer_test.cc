#include "chat/chat_serializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "chat/chat_command.h"
#include "chat/chat_message_generated.h"

namespace chat {
namespace {

// Little-endian writer over a fixed buffer, for building expected bytes by hand.
class Bytes {
 public:
  explicit Bytes(size_t size) : bytes_(size, 0) {}
  void U16(size_t at, uint16_t v) { Put(at, v, 2); }
  void U32(size_t at, uint32_t v) { Put(at, v, 4); }
  void U64(size_t at, uint64_t v) { Put(at, v, 8); }
  void Text(size_t at, const std::string& text) {
    std::memcpy(bytes_.data() + at, text.data(), text.size());
  }
  // A FlatBuffers string: length, bytes, terminating zero.
  void String(size_t at, const std::string& text) {
    U32(at, static_cast<uint32_t>(text.size()));
    Text(at + 4, text);
  }
  const std::vector<uint8_t>& get() const { return bytes_; }

 private:
  void Put(size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> ToVector(const ChatBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size());
}

bool Decode(const std::vector<uint8_t>& bytes, ChatMessage* out) {
  // Copied into new[] memory so the decoder sees an aligned buffer, as the
  // transports hand it one.
  auto buffer = ReceivedBuffer::Copy(bytes.data(), static_cast<int>(bytes.size()));
  return ChatDeserializer::Create()->Deserialize(*buffer, *out);
}

ChatMessage FullMessage() {
  ChatMessage message;
  message.seq = 0x1122334455667788;
  message.refSeq = -5;
  message.nickName = "nick 名";
  message.hostName = "host";
  message.uuid = "{8E1C0A52-6D5B-4A65-9A2F-2B6B8C1D3E4F}";
  message.command = CHAT_CMD_RESP_BUSINESS_INFO;
  message.text = "text";
  message.port = 6011;
  message.uri = "/play/0123456789ABCDEF0123456789ABCDEF";
  message.section = "section";
  message.position = "position";
  message.telephone = "123";
  message.email = "a@b.c";
  return message;
}

void ExpectSameWireFields(const ChatMessage& a, const ChatMessage& b) {
  EXPECT_EQ(a.header, b.header);
  EXPECT_EQ(a.seq, b.seq);
  EXPECT_EQ(a.refSeq, b.refSeq);
  EXPECT_EQ(a.nickName, b.nickName);
  EXPECT_EQ(a.hostName, b.hostName);
  EXPECT_EQ(a.uuid, b.uuid);
  EXPECT_EQ(a.command, b.command);
  EXPECT_EQ(a.text, b.text);
  EXPECT_EQ(a.port, b.port);
  EXPECT_EQ(a.uri, b.uri);
  EXPECT_EQ(a.section, b.section);
  EXPECT_EQ(a.position, b.position);
  EXPECT_EQ(a.telephone, b.telephone);
  EXPECT_EQ(a.email, b.email);
}

// The layout peers must produce byte for byte: strings from email up to
// nick_name, then the table fields in the fixed order, vtable before the table.
TEST(ChatSerializerTest, MatchesHandBuiltBufferByteForByte) {
  ChatMessage message;
  message.seq = 1;
  message.nickName = "A";
  message.hostName = "B";
  message.uuid = "C";
  message.command = CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK;
  message.text = "hi";
  message.sentAt = 99;  // local fields never reach the wire
  message.destination = "198.18.0.2";
  message.tries = 3;

  Bytes expected(216);
  expected.U32(0, 36);  // root table at 36
  const uint16_t vtable[16] = {32, 64, 4, 52, 0, 12, 16, 20, 24, 28, 0, 32, 36, 40, 44, 48};
  for (int i = 0; i < 16; ++i) expected.U16(4 + 2 * i, vtable[i]);
  expected.U32(36, 32);  // table -> vtable at 36 - 32
  expected.Text(40, std::string("\x01\x00QNCHAT", 8));
  const uint32_t string_offsets[10] = {52, 56, 60, 64, 104, 108, 112, 116, 120, 124};
  for (int i = 0; i < 10; ++i) expected.U32(48 + 4 * i, string_offsets[i]);
  expected.U64(88, 1);  // seq; ref_seq and port are 0 and left out
  expected.String(100, "A");
  expected.String(108, "B");
  expected.String(116, "C");
  expected.String(124, "CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK");
  expected.String(168, "hi");
  for (size_t at : {176, 184, 192, 200, 208}) expected.String(at, "");

  auto buffer = ChatSerializer::Create()->Serialize(message);
  EXPECT_EQ(ToVector(*buffer), expected.get());

  ChatMessage decoded;
  ASSERT_TRUE(Decode(expected.get(), &decoded));
  ExpectSameWireFields(decoded, message);
  EXPECT_EQ(decoded.tries, 0);
  EXPECT_TRUE(decoded.destination.empty());
}

// Every field present: ref_seq and port take their places (ref_seq added
// first, so it sits last in the table), the strings in their fixed order.
ChatMessage AllFieldsMessage() {
  ChatMessage message;
  message.seq = 1;
  message.refSeq = 2;
  message.nickName = "A";
  message.hostName = "B";
  message.uuid = "C";
  message.command = CHAT_CMD_FILE | CHAT_CMD_OPT_SENDCHECK;
  message.text = "f.txt";
  message.port = 6011;
  message.uri = "U";
  message.section = "S";
  message.position = "P";
  message.telephone = "T";
  message.email = "E";
  return message;
}

std::vector<uint8_t> AllFieldsBytes() {
  Bytes expected(232);
  expected.U32(0, 40);  // root table at 40; bytes 4-7 pad the vtable to 8
  const uint16_t vtable[16] = {32, 72, 4, 56, 64, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52};
  for (int i = 0; i < 16; ++i) expected.U16(8 + 2 * i, vtable[i]);
  expected.U32(40, 32);  // table -> vtable at 40 - 32
  expected.Text(44, std::string("\x01\x00QNCHAT", 8));
  // nick, host, uuid, command, text, then port, then uri .. email.
  const size_t fields[10] = {52, 56, 60, 64, 68, 76, 80, 84, 88, 92};
  const size_t strings[10] = {112, 120, 128, 136, 180, 192, 200, 208, 216, 224};
  for (int i = 0; i < 10; ++i) expected.U32(fields[i], strings[i] - fields[i]);
  expected.U32(72, 6011);
  expected.U64(96, 1);   // seq
  expected.U64(104, 2);  // ref_seq
  expected.String(112, "A");
  expected.String(120, "B");
  expected.String(128, "C");
  expected.String(136, "CHAT_CMD_FILE|CHAT_CMD_OPT_SENDCHECK");
  expected.String(180, "f.txt");
  expected.String(192, "U");
  expected.String(200, "S");
  expected.String(208, "P");
  expected.String(216, "T");
  expected.String(224, "E");
  return expected.get();
}

TEST(ChatSerializerTest, MessageWithEveryFieldMatchesHandBuiltBuffer) {
  auto buffer = ChatSerializer::Create()->Serialize(AllFieldsMessage());
  EXPECT_EQ(ToVector(*buffer), AllFieldsBytes());
  ChatMessage decoded;
  ASSERT_TRUE(Decode(AllFieldsBytes(), &decoded));
  ExpectSameWireFields(decoded, AllFieldsMessage());
}

// Field ids are the declaration order: vtable offset 4 + 2n.
TEST(ChatSerializerTest, SchemaVtableOffsetsFollowTheFieldIds) {
  using W = wire::WireMessage;
  const int offsets[14] = {W::VT_HEADER,    W::VT_SEQ,  W::VT_REF_SEQ, W::VT_NICK_NAME,
                           W::VT_HOST_NAME, W::VT_UUID, W::VT_COMMAND, W::VT_TEXT,
                           W::VT_PORT,      W::VT_URI,  W::VT_SECTION, W::VT_POSITION,
                           W::VT_TELEPHONE, W::VT_EMAIL};
  for (int n = 0; n < 14; ++n) EXPECT_EQ(offsets[n], 4 + 2 * n) << n;
  EXPECT_EQ(sizeof(wire::WireHeader), 8u);
  EXPECT_EQ(alignof(wire::WireHeader), 1u);
}

TEST(ChatSerializerTest, EmptyMessageEncodesEveryStringAndNoZeroScalar) {
  const ChatMessage message;
  auto buffer = ChatSerializer::Create()->Serialize(message);
  ASSERT_TRUE(IsCompleteChatMessage(buffer->Data(), buffer->Size()));
  const wire::WireMessage* root = wire::GetWireMessage(buffer->Data());
  const auto* table = reinterpret_cast<const flatbuffers::Table*>(root);
  EXPECT_FALSE(table->CheckField(wire::WireMessage::VT_SEQ));
  EXPECT_FALSE(table->CheckField(wire::WireMessage::VT_REF_SEQ));
  EXPECT_FALSE(table->CheckField(wire::WireMessage::VT_PORT));
  EXPECT_TRUE(table->CheckField(wire::WireMessage::VT_HEADER));
  for (const flatbuffers::String* text :
       {root->nick_name(), root->host_name(), root->uuid(), root->command(), root->text(),
        root->uri(), root->section(), root->position(), root->telephone(), root->email()}) {
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->size(), 0u);
  }
  ChatMessage decoded;
  decoded.seq = 7;  // overwritten by the decoder
  ASSERT_TRUE(Decode(ToVector(*buffer), &decoded));
  ExpectSameWireFields(decoded, message);
}

TEST(ChatSerializerTest, EveryWireFieldRoundTrips) {
  const ChatMessage message = FullMessage();
  auto buffer = ChatSerializer::Create()->Serialize(message);
  ChatMessage decoded;
  ASSERT_TRUE(Decode(ToVector(*buffer), &decoded));
  ExpectSameWireFields(decoded, message);
}

// Builds a buffer field by field, for inputs the serializer never produces.
std::vector<uint8_t> BuildRaw(bool with_header, const char letters[6], const char* command) {
  flatbuffers::FlatBufferBuilder builder;
  flatbuffers::Offset<flatbuffers::String> command_text;
  if (command) command_text = builder.CreateString(command);
  const auto start = builder.StartTable();
  builder.AddElement<int64_t>(wire::WireMessage::VT_SEQ, 42, 0);
  if (command) builder.AddOffset(wire::WireMessage::VT_COMMAND, command_text);
  const wire::WireHeader header(1, 0, letters[0], letters[1], letters[2], letters[3], letters[4],
                                letters[5]);
  if (with_header) builder.AddStruct(wire::WireMessage::VT_HEADER, &header);
  builder.Finish(flatbuffers::Offset<wire::WireMessage>(builder.EndTable(start)));
  return std::vector<uint8_t>(builder.GetBufferPointer(),
                              builder.GetBufferPointer() + builder.GetSize());
}

TEST(ChatDeserializerTest, RejectsWrongOrMissingHeader) {
  ChatMessage decoded;
  EXPECT_TRUE(Decode(BuildRaw(true, "QNCHAT", "CHAT_CMD_PING"), &decoded));
  EXPECT_EQ(decoded.seq, 42);
  EXPECT_FALSE(Decode(BuildRaw(true, "QNCHAX", "CHAT_CMD_PING"), &decoded));
  EXPECT_FALSE(Decode(BuildRaw(true, "qnchat", "CHAT_CMD_PING"), &decoded));
  EXPECT_FALSE(Decode(BuildRaw(false, "QNCHAT", "CHAT_CMD_PING"), &decoded));

  // First two header bytes must be 1, 0.
  auto bytes = ChatSerializer::Create()->Serialize(FullMessage());
  auto raw = ToVector(*bytes);
  const std::string magic("\x01\x00QNCHAT", 8);
  auto at = std::search(raw.begin(), raw.end(), magic.begin(), magic.end());
  ASSERT_NE(at, raw.end());
  at[1] = 1;
  EXPECT_FALSE(Decode(raw, &decoded));
}

TEST(ChatDeserializerTest, CommandTextDecodesToItsWord) {
  ChatMessage decoded;
  ASSERT_TRUE(Decode(BuildRaw(true, "QNCHAT", "CHAT_CMD_TEXT"), &decoded));
  EXPECT_EQ(decoded.command, CHAT_CMD_TEXT);
  ASSERT_TRUE(Decode(BuildRaw(true, "QNCHAT", nullptr), &decoded));
  EXPECT_EQ(decoded.command, 0);
  EXPECT_TRUE(decoded.nickName.empty());
  ASSERT_TRUE(Decode(BuildRaw(true, "QNCHAT", "CHAT_CMD_NOPE"), &decoded));
  EXPECT_EQ(decoded.command, 0);
}

// The TCP receiver decodes as soon as the bytes so far verify, so a prefix
// may only verify when nothing it refers to is missing: then it decodes to
// the whole message (only the trailing padding may still be outstanding).
TEST(ChatDeserializerTest, TruncatedBufferVerifiesOnlyWhenNothingIsMissing) {
  const auto full = ToVector(*ChatSerializer::Create()->Serialize(FullMessage()));
  ChatMessage decoded;
  size_t shortest_accepted = full.size();
  for (size_t size = 0; size < full.size(); ++size) {
    std::vector<uint8_t> prefix(full.begin(), full.begin() + size);
    ChatMessage partial;
    if (Decode(prefix, &partial)) {
      shortest_accepted = std::min(shortest_accepted, size);
      ExpectSameWireFields(partial, FullMessage());
    }
  }
  // "a@b.c" plus its zero is the last referenced data; 2 padding bytes follow.
  EXPECT_EQ(shortest_accepted, full.size() - 2);
  EXPECT_FALSE(Decode(std::vector<uint8_t>(11, 0), &decoded));
  EXPECT_FALSE(Decode(std::vector<uint8_t>(64, 0), &decoded));  // root offset 0
  EXPECT_FALSE(Decode(std::vector<uint8_t>(64, 0xFF), &decoded));
}

// Corrupting any single byte must either be caught or decode to something;
// run under the sanitizers this shows no read leaves the buffer.
TEST(ChatDeserializerTest, SurvivesEverySingleByteCorruption) {
  const auto full = ToVector(*ChatSerializer::Create()->Serialize(FullMessage()));
  int rejected = 0;
  for (size_t at = 0; at < full.size(); ++at) {
    for (uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
      auto bytes = full;
      if (bytes[at] == value) continue;
      bytes[at] = value;
      ChatMessage decoded;
      if (!Decode(bytes, &decoded)) ++rejected;
    }
  }
  EXPECT_GT(rejected, 0);
}

// Hand-made damage to the all-fields buffer at known places: each must be
// refused, never read past the bytes or trusted.
TEST(ChatDeserializerTest, RejectsBadOffsetsAndSizes) {
  struct Damage {
    const char* what;
    size_t at;
    int width;  // 1, 2 or 4 bytes, little-endian
    uint32_t value;
  };
  const Damage damages[] = {
      {"root offset past the end", 0, 4, 232},
      {"root offset far past the end", 0, 4, 0x7FFFFFF0},
      {"root offset not aligned", 0, 4, 41},
      {"vtable behind the buffer start", 40, 4, 64},
      {"vtable past the end", 40, 4, 0xFFFFFF00},
      {"odd vtable size", 8, 2, 33},
      {"vtable larger than the buffer", 8, 2, 400},
      {"int64 field not aligned", 14, 2, 58},
      {"int64 field past the end", 14, 2, 0xFFF0},
      {"string offset past the end", 92, 4, 500},
      {"string offset not aligned", 92, 4, 133},
      {"string length past the end", 224, 4, 9},
      {"string length huge", 224, 4, 0xFFFFFFF0},
      {"string not terminated", 229, 1, 'X'},
      {"header past the end", 12, 2, 0xFFFF},
  };
  const std::vector<uint8_t> good = AllFieldsBytes();
  for (const Damage& damage : damages) {
    std::vector<uint8_t> bytes = good;
    for (int i = 0; i < damage.width; ++i) {
      bytes[damage.at + i] = static_cast<uint8_t>(damage.value >> (8 * i));
    }
    ChatMessage decoded;
    EXPECT_FALSE(Decode(bytes, &decoded)) << damage.what;
    EXPECT_FALSE(IsCompleteChatMessage(bytes.data(), bytes.size())) << damage.what;
  }
  ChatMessage decoded;
  EXPECT_TRUE(Decode(good, &decoded));
}

// Buffers of the right shape whose fields hold the wrong kind of value.
TEST(ChatDeserializerTest, RejectsFieldsOfTheWrongKind) {
  auto build = [](auto add_fields) {
    flatbuffers::FlatBufferBuilder builder;
    const wire::WireHeader header(1, 0, 'Q', 'N', 'C', 'H', 'A', 'T');
    const auto start = builder.StartTable();
    add_fields(builder);
    builder.AddStruct(wire::WireMessage::VT_HEADER, &header);
    builder.Finish(flatbuffers::Offset<wire::WireMessage>(builder.EndTable(start)));
    return std::vector<uint8_t>(builder.GetBufferPointer(),
                                builder.GetBufferPointer() + builder.GetSize());
  };
  ChatMessage decoded;
  // A small number where a string offset belongs: points at a misaligned place.
  EXPECT_FALSE(Decode(build([](flatbuffers::FlatBufferBuilder& b) {
                        b.AddElement<uint32_t>(wire::WireMessage::VT_NICK_NAME, 1, 0);
                      }),
                      &decoded));
  // A large number where a string offset belongs: points outside.
  EXPECT_FALSE(Decode(build([](flatbuffers::FlatBufferBuilder& b) {
                        b.AddElement<uint32_t>(wire::WireMessage::VT_COMMAND, 0x10000000, 0);
                      }),
                      &decoded));
  // A one-byte value where the 8-byte seq belongs: misplaced for an int64.
  EXPECT_FALSE(Decode(build([](flatbuffers::FlatBufferBuilder& b) {
                        b.AddElement<uint8_t>(wire::WireMessage::VT_SEQ, 1, 0);
                      }),
                      &decoded));
  // The header given as a string instead of the inline struct.
  flatbuffers::FlatBufferBuilder builder;
  auto text = builder.CreateString("\x01\x00QNCHAT");
  const auto start = builder.StartTable();
  builder.AddOffset(wire::WireMessage::VT_HEADER, text);
  builder.Finish(flatbuffers::Offset<wire::WireMessage>(builder.EndTable(start)));
  EXPECT_FALSE(Decode(std::vector<uint8_t>(builder.GetBufferPointer(),
                                           builder.GetBufferPointer() + builder.GetSize()),
                      &decoded));
}

TEST(ChatDeserializerTest, TwelveBytesAreTheShortestInputThatIsVerified) {
  // 12 bytes: a root offset and a table whose vtable lies outside -- read, refused.
  std::vector<uint8_t> bytes = {4, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  ChatMessage decoded;
  EXPECT_FALSE(Decode(bytes, &decoded));
  // Any valid buffer is longer; 11 bytes of a valid buffer are refused before reading.
  const auto full = ToVector(*ChatSerializer::Create()->Serialize(ChatMessage()));
  EXPECT_GT(full.size(), 12u);
  EXPECT_FALSE(Decode(std::vector<uint8_t>(full.begin(), full.begin() + 11), &decoded));
}

TEST(ChatDeserializerTest, AcceptsTrailingBytesBehindAValidBuffer) {
  auto bytes = ToVector(*ChatSerializer::Create()->Serialize(FullMessage()));
  bytes.resize(bytes.size() + 100, 0xAB);
  ChatMessage decoded;
  ASSERT_TRUE(Decode(bytes, &decoded));
  ExpectSameWireFields(decoded, FullMessage());
}

}  // namespace
}  // namespace chat
