#include "chat_rtp/rtp_packetizer_h264.h"

#include <gtest/gtest.h>

#include <vector>

namespace chat_rtp {
namespace {

std::vector<uint8_t> Unit(size_t size, uint8_t header) {
  std::vector<uint8_t> u = {0, 0, 0, 1, header};
  for (size_t i = 1; i < size; ++i) u.push_back(static_cast<uint8_t>(i * 7 + 3));
  return u;
}

std::vector<RtpPacket> All(const std::vector<uint8_t>& picture, size_t max) {
  RtpPacketizerH264 p(picture.data(), picture.size(), max, 0);
  std::vector<RtpPacket> out;
  RtpPacket packet;
  while (p.NextPacket(&packet)) {
    out.push_back(packet);
    packet.Reset();
  }
  return out;
}

TEST(RtpPacketizerH264Test, SmallUnitsShareOneStapA) {
  std::vector<uint8_t> pic;
  for (size_t n : {20, 30, 40}) {
    auto u = Unit(n, 0x65);
    pic.insert(pic.end(), u.begin(), u.end());
  }
  auto packets = All(pic, 1200);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].GetPayloadSize(), 97u);
  EXPECT_EQ(packets[0].GetPayload()[0] & 0x1F, 24);
  EXPECT_TRUE(packets[0].GetMarker());
}

TEST(RtpPacketizerH264Test, UnitOverTheLimitIsFragmentedEvenly) {
  auto one = All(Unit(1200, 0x65), 1200);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].GetPayloadSize(), 1200u);

  auto two = All(Unit(1201, 0x65), 1200);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].GetPayloadSize(), 602u);
  EXPECT_EQ(two[0].GetPayload()[1], 0x80 | 5);
  EXPECT_EQ(two[1].GetPayload()[1], 0x40 | 5);
  EXPECT_FALSE(two[0].GetMarker());
  EXPECT_TRUE(two[1].GetMarker());

  auto five = All(Unit(5000, 0x65), 1200);
  ASSERT_EQ(five.size(), 5u);
  EXPECT_EQ(five[0].GetPayloadSize(), 2u + 999);
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(five[i].GetPayloadSize(), 2u + 1000);
}

TEST(RtpPacketizerH264Test, SeiIsLeftOutAndFourByteCodesLeaveNoZero) {
  std::vector<uint8_t> pic = Unit(10, 0x65);
  auto sei = Unit(8, 0x06);
  auto b = Unit(10, 0x41);
  pic.insert(pic.end(), sei.begin(), sei.end());
  pic.insert(pic.end(), b.begin(), b.end());
  auto units = FindNalUnits(pic.data(), pic.size());
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].size, 10u);
  EXPECT_EQ(units[1].size, 10u);
  EXPECT_TRUE(All({1, 2, 3, 4, 5, 6}, 1200).empty());
  EXPECT_TRUE(All(Unit(10, 0x65), 2).empty());  // cannot fragment into 2-byte payloads
}

TEST(RtpPacketizerH264Test, UnitThatDoesNotFitBesideTheFirstGoesAlone) {
  std::vector<uint8_t> pic = Unit(1100, 0x65);
  auto b = Unit(200, 0x41);
  pic.insert(pic.end(), b.begin(), b.end());
  auto packets = All(pic, 1200);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].GetPayloadSize(), 1100u);
  EXPECT_EQ(packets[1].GetPayloadSize(), 200u);
}

}  // namespace
}  // namespace chat_rtp
