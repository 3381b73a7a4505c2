#include "chat/chat_packet_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "chat/chat_serializer.h"

namespace chat {
namespace {

std::unique_ptr<ChatTransportPacket> MakePacket(int64_t seq, uint32_t counter, uint32_t total,
                                                uint32_t index, const std::string& payload) {
  auto packet =
      std::make_unique<ChatTransportPacketToSend>(reinterpret_cast<const uint8_t*>(payload.data()),
                                                  static_cast<int>(payload.size()), "198.18.0.1");
  packet->SetSeq(seq);
  packet->SetCounter(counter);
  packet->SetTotal(total);
  packet->SetIndex(index);
  return packet;
}

std::string ToString(const std::unique_ptr<ChatBuffer>& buffer) {
  return buffer ? std::string(reinterpret_cast<const char*>(buffer->Data()), buffer->Size())
                : std::string("<none>");
}

std::string Pattern(size_t size, char seed) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 23);
  return text;
}

TEST(ChatTransportPacketTest, HeaderIsBigEndian) {
  auto packet = MakePacket(0x0102030405060708, 0x090A0B0C, 0x0D0E0F10, 0x11121314, "xy");
  const uint8_t expected[22] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,  11,
                                12, 13, 14, 15, 16, 17, 18, 19, 20, 'x', 'y'};
  ASSERT_EQ(packet->ByteCount(), 22);
  EXPECT_TRUE(std::equal(expected, expected + 22, packet->Bytes()));
  EXPECT_EQ(packet->Seq(), 0x0102030405060708);
  EXPECT_EQ(packet->Counter(), 0x090A0B0Cu);
  EXPECT_EQ(packet->Total(), 0x0D0E0F10u);
  EXPECT_EQ(packet->Index(), 0x11121314u);
  EXPECT_EQ(packet->PayloadSize(), 2);
}

TEST(ChatTransportPacketTest, ShortPacketReadsNothingPastItsBytes) {
  ChatTransportPacketReceived packet(
      ReceivedBuffer::Copy(reinterpret_cast<const uint8_t*>("0123456789"), 10));
  EXPECT_FALSE(packet.HasHeader());
  EXPECT_EQ(packet.Seq(), 0);
  EXPECT_EQ(packet.Total(), 0u);
  EXPECT_EQ(packet.PayloadSize(), 0);
  EXPECT_EQ(packet.Payload(), nullptr);
}

TEST(ChatPacketAssemblerTest, SinglePacketMessageComesOutAtOnce) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(5, 1, 1, 0, "hello"))), "hello");
  EXPECT_EQ(assembler.HeldPackets(), 0);
}

TEST(ChatPacketAssemblerTest, DropsMalformedPackets) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 1, 1, 2, "x")), nullptr);  // index past total 1
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 1, 1, 0, "")), nullptr);   // empty payload
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 1, 0, 0, "x")), nullptr);  // total 0
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 1, 256, 0, "x")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 7, 3, 3, "x")), nullptr);  // index past total
  EXPECT_EQ(assembler.AddPacket(MakePacket(5, 7, 3, 9, "x")), nullptr);
  for (int size = 0; size < kChatPacketHeaderSize; ++size) {
    const std::string bytes(size, '\x01');
    EXPECT_EQ(assembler.AddPacket(std::make_unique<ChatTransportPacketReceived>(
                  ReceivedBuffer::Copy(reinterpret_cast<const uint8_t*>(bytes.data()), size))),
              nullptr);
  }
  EXPECT_EQ(assembler.AddPacket(nullptr), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 0);
}

// 2500 bytes travel as 1200 + 1200 + 100 with consecutive counters; whatever
// the arrival order, the message comes out once, with the last packet.
TEST(ChatPacketAssemblerTest, JoinsThreePacketsInEveryOrder) {
  const std::string message = Pattern(2500, 'a');
  std::vector<int> order = {0, 1, 2};
  do {
    ChatPacketAssembler assembler;
    for (size_t n = 0; n < order.size(); ++n) {
      const int i = order[n];
      const size_t offset = static_cast<size_t>(i) * 1200;
      auto out = assembler.AddPacket(MakePacket(
          77, 40 + i, 3, i, message.substr(offset, std::min<size_t>(1200, 2500 - offset))));
      if (n + 1 < order.size()) {
        EXPECT_EQ(out, nullptr);
      } else {
        EXPECT_EQ(ToString(out), message);
      }
    }
    EXPECT_EQ(assembler.HeldPackets(), 0);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(ChatPacketAssemblerTest, RepeatedPacketReplacesItself) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(9, 10, 2, 0, "ab")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(9, 10, 2, 0, "ab")), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 1);
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(9, 11, 2, 1, "cd"))), "abcd");
}

// A neighbour of another message spoils the attempt; the retransmission on
// new counters then completes.
TEST(ChatPacketAssemblerTest, ForeignNeighbourIsDroppedAndRetransmissionCompletes) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(1, 20, 2, 0, "old")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(2, 21, 2, 1, "xx")), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 1);  // slot 20 was cleared
  EXPECT_EQ(assembler.AddPacket(MakePacket(2, 30, 2, 0, "yy")), nullptr);
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(2, 31, 2, 1, "zz"))), "yyzz");
}

TEST(ChatPacketAssemblerTest, PacketsAcrossTheCounterWrapJoin) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(3, 0xFFFFFFFFu, 3, 0, "a")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(3, 1, 3, 2, "c")), nullptr);
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(3, 0, 3, 1, "b"))), "abc");
}

TEST(ChatPacketAssemblerTest, SameSeqAtAnotherPlaceDoesNotJoin) {
  // Slot 6 holds index 1 of message 4 (left from an earlier counter run);
  // index 1 arriving at counter 7 expects index 0 in slot 6.
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(4, 6, 2, 1, "p")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(4, 7, 2, 1, "s")), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 1);  // the stale slot 6 was cleared
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(4, 6, 2, 0, "r"))), "rs");
}

TEST(ChatPacketAssemblerTest, FloodOfPacketsStaysWithinTheSlots) {
  ChatPacketAssembler assembler;
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t total = 2 + random() % 254;
    assembler.AddPacket(MakePacket(random() % 50, random(), total, random() % total, "z"));
    ASSERT_LE(assembler.HeldPackets(), ChatPacketAssembler::kSlotCount);
  }
}

// A packet 256 counters later takes the same slot: the earlier message loses
// its piece without a report and does not complete; nothing is mixed up.
TEST(ChatPacketAssemblerTest, SlotReuseEvictsAnUnfinishedMessage) {
  ChatPacketAssembler assembler;
  EXPECT_EQ(assembler.AddPacket(MakePacket(1, 10, 2, 0, "a0")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(2, 10 + 256, 2, 0, "b0")), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 1);
  EXPECT_EQ(assembler.AddPacket(MakePacket(1, 11, 2, 1, "a1")), nullptr);
  // Message 2's piece was cleared as a foreign neighbour; the retransmission
  // of message 1 on new counters still completes.
  EXPECT_EQ(assembler.AddPacket(MakePacket(2, 11 + 256, 2, 1, "b1")), nullptr);
  EXPECT_EQ(assembler.AddPacket(MakePacket(1, 20, 2, 0, "A0")), nullptr);
  EXPECT_EQ(ToString(assembler.AddPacket(MakePacket(1, 21, 2, 1, "A1"))), "A0A1");
}

// A lost piece keeps its message from completing; the others wait in their
// slots until the retransmission (new counters) completes, and later traffic
// overwrites them. The slots never hold more than 256 packets.
TEST(ChatPacketAssemblerTest, MissingPieceWaitsForTheRetransmission) {
  ChatPacketAssembler assembler;
  const std::string message = Pattern(5 * 1200, 'k');
  auto piece = [&](int i) { return message.substr(static_cast<size_t>(i) * 1200, 1200); };
  for (int i : {0, 1, 2, 4})
    EXPECT_EQ(assembler.AddPacket(MakePacket(8, 100 + i, 5, i, piece(i))), nullptr);
  EXPECT_EQ(assembler.HeldPackets(), 4);
  std::unique_ptr<ChatBuffer> out;
  for (int i = 0; i < 5; ++i) {
    out = assembler.AddPacket(MakePacket(8, 105 + i, 5, i, piece(i)));
    if (i < 4) {
      EXPECT_EQ(out, nullptr) << i;
    }
  }
  EXPECT_EQ(ToString(out), message);
  EXPECT_EQ(assembler.HeldPackets(), 4);  // the first attempt's leftovers
  for (uint32_t c = 0; c < 600; ++c) {
    assembler.AddPacket(MakePacket(1000 + c, 200 + c, 3, c % 3, "z"));
    ASSERT_LE(assembler.HeldPackets(), ChatPacketAssembler::kSlotCount);
  }
}

TEST(ChatPacketAssemblerTest, LargestMessageOf255PiecesJoinsAcrossTheSlotWrap) {
  ChatPacketAssembler assembler;
  const std::string message = Pattern(254 * 1200 + 7, 'm');
  std::unique_ptr<ChatBuffer> out;
  for (uint32_t i = 0; i < 255; ++i) {
    // Start near the end of the slot array so the message wraps around it.
    out = assembler.AddPacket(
        MakePacket(3, 200 + i, 255, i,
                   message.substr(i * 1200, std::min<size_t>(1200, message.size() - i * 1200))));
    if (i < 254) {
      ASSERT_EQ(out, nullptr) << i;
    }
  }
  EXPECT_EQ(ToString(out), message);
  EXPECT_EQ(assembler.HeldPackets(), 0);
}

// Datagrams delivered twice after the message completed: the late copies
// join again, and the delivered list drops the repeated message.
TEST(ChatPacketAssemblerTest, RepeatedMessageAfterDeliveryIsDroppedAsDuplicate) {
  ChatMessage original;
  original.seq = 4242;
  original.command = 0x1006;
  original.hostName = "h";
  original.text = Pattern(2500, 'q');
  auto serialized = ChatSerializer::Create()->Serialize(original);
  const std::string bytes(reinterpret_cast<const char*>(serialized->Data()), serialized->Size());
  const uint32_t total = static_cast<uint32_t>((bytes.size() + 1199) / 1200);
  ASSERT_EQ(total, 3u);

  ChatPacketAssembler assembler;
  auto deserializer = ChatDeserializer::Create();
  int delivered = 0;
  int dropped = 0;
  for (int round = 0; round < 2; ++round) {
    for (uint32_t i = 0; i < total; ++i) {
      auto out = assembler.AddPacket(
          MakePacket(original.seq, 60 + i, total, i, bytes.substr(i * 1200, 1200)));
      if (!out) continue;
      ChatMessage message;
      ASSERT_TRUE(deserializer->Deserialize(*out, message));
      EXPECT_EQ(message.text, original.text);
      if (assembler.IsDuplicate(message)) {
        ++dropped;
      } else {
        ++delivered;
      }
    }
  }
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(dropped, 1);
  // A single late copy of one piece completes nothing.
  EXPECT_EQ(assembler.AddPacket(MakePacket(original.seq, 61, total, 1, bytes.substr(1200, 1200))),
            nullptr);
}

TEST(ChatPacketAssemblerTest, DuplicatesAreRememberedFor200Messages) {
  ChatPacketAssembler assembler;
  ChatMessage message;
  message.seq = 1000;
  EXPECT_FALSE(assembler.IsDuplicate(message));
  EXPECT_TRUE(assembler.IsDuplicate(message));
  for (int i = 1; i <= 199; ++i) {
    ChatMessage newer;
    newer.seq = 1000 + i;
    EXPECT_FALSE(assembler.IsDuplicate(newer));
  }
  EXPECT_TRUE(assembler.IsDuplicate(message));  // 199 newer: still remembered
  ChatMessage newest;
  newest.seq = 5000;
  EXPECT_FALSE(assembler.IsDuplicate(newest));  // the 200th pushes it out
  EXPECT_FALSE(assembler.IsDuplicate(message));
}

TEST(ChatPacketAssemblerTest, NegativeSeqCountsAsDuplicate) {
  ChatPacketAssembler assembler;
  ChatMessage message;
  message.seq = -1;
  EXPECT_TRUE(assembler.IsDuplicate(message));
  message.seq = 0;
  EXPECT_FALSE(assembler.IsDuplicate(message));
}

}  // namespace
}  // namespace chat
