#include "chat_base/segment_buffer.h"

#include <unistd.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

using chat_base::SegmentBuffer;

std::vector<uint8_t> Pattern(size_t length, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
  return bytes;
}

std::vector<uint8_t> ReadAll(const SegmentBuffer& buffer) {
  std::vector<uint8_t> out(buffer.Size());
  EXPECT_EQ(buffer.Size(), buffer.ReadAt(out.data(), buffer.Size(), 0));
  return out;
}

TEST(SegmentBufferTest, PageSizeIsTheSystemsPage) {
  EXPECT_EQ(static_cast<uint32_t>(sysconf(_SC_PAGESIZE)), SegmentBuffer::PageSize());
}

TEST(SegmentBufferTest, EmptyBufferHoldsNothing) {
  SegmentBuffer buffer;
  EXPECT_EQ(0u, buffer.Size());
  EXPECT_EQ(0u, buffer.GetSegmentCount());
  EXPECT_EQ(0u, buffer.GetCapacity());
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(0u, buffer.ReadAt(out, sizeof(out), 0));
  EXPECT_EQ(9, out[0]);
  EXPECT_TRUE(buffer.Append(nullptr, 0));
  EXPECT_EQ(0u, buffer.GetSegmentCount());
}

TEST(SegmentBufferTest, SegmentCountFollowsPageBoundaries) {
  const uint32_t page = SegmentBuffer::PageSize();
  struct Case {
    uint32_t length;
    size_t segments;
  } cases[] = {{1, 1}, {page - 1, 1}, {page, 1}, {page + 1, 2}, {2 * page, 2}, {2 * page + 1, 3}};
  for (const Case& c : cases) {
    SegmentBuffer buffer;
    const auto bytes = Pattern(c.length);
    ASSERT_TRUE(buffer.Append(bytes.data(), c.length));
    EXPECT_EQ(c.length, buffer.Size()) << c.length;
    EXPECT_EQ(c.segments, buffer.GetSegmentCount()) << c.length;
    EXPECT_EQ(c.segments * page, buffer.GetCapacity()) << c.length;
    EXPECT_EQ(bytes, ReadAll(buffer)) << c.length;
  }
}

TEST(SegmentBufferTest, ReadAtStraddlesASegmentBoundary) {
  const uint32_t page = SegmentBuffer::PageSize();
  const uint32_t length = 2 * page + page / 2;
  const auto bytes = Pattern(length);
  SegmentBuffer buffer;
  ASSERT_TRUE(buffer.Append(bytes.data(), length));
  EXPECT_EQ(3u, buffer.GetSegmentCount());
  std::vector<uint8_t> out(200);
  const uint32_t offset = page - 96;
  ASSERT_EQ(200u, buffer.ReadAt(out.data(), 200, offset));
  EXPECT_EQ(0, std::memcmp(out.data(), bytes.data() + offset, 200));
  // One read spanning all three segments.
  std::vector<uint8_t> wide(page + 200);
  ASSERT_EQ(page + 200, buffer.ReadAt(wide.data(), page + 200, page - 100));
  EXPECT_EQ(0, std::memcmp(wide.data(), bytes.data() + page - 100, page + 200));
}

TEST(SegmentBufferTest, ReadAtNearAndPastTheEnd) {
  const auto bytes = Pattern(100);
  SegmentBuffer buffer;
  ASSERT_TRUE(buffer.Append(bytes.data(), 100));
  uint8_t out[64];
  EXPECT_EQ(0u, buffer.ReadAt(out, sizeof(out), 100));
  EXPECT_EQ(0u, buffer.ReadAt(out, sizeof(out), 5000));
  EXPECT_EQ(0u, buffer.ReadAt(out, 0, 10));
  ASSERT_EQ(10u, buffer.ReadAt(out, sizeof(out), 90));
  EXPECT_EQ(0, std::memcmp(out, bytes.data() + 90, 10));
  // Offset plus length overflowing 32 bits is still clipped to the size.
  ASSERT_EQ(50u, buffer.ReadAt(out, 0xFFFFFFF0u, 50));
}

TEST(SegmentBufferTest, ManySmallAppendsLandInOrderAcrossSegments) {
  const uint32_t page = SegmentBuffer::PageSize();
  const auto bytes = Pattern(3 * page + 17, 3);
  SegmentBuffer buffer;
  // 13-byte pieces never line up with a page, so most of them cross one.
  for (size_t done = 0; done < bytes.size(); done += 13) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(13, bytes.size() - done));
    ASSERT_TRUE(buffer.Append(bytes.data() + done, piece));
  }
  EXPECT_EQ(bytes.size(), buffer.Size());
  EXPECT_EQ(4u, buffer.GetSegmentCount());
  EXPECT_EQ(bytes, ReadAll(buffer));
}

TEST(SegmentBufferTest, ClearKeepsSegmentsAndCountsOnlyNewBytes) {
  const uint32_t page = SegmentBuffer::PageSize();
  const auto first = Pattern(2 * page + 5, 1);
  const auto second = Pattern(page + 3, 2);
  SegmentBuffer buffer;
  ASSERT_TRUE(buffer.Append(first.data(), static_cast<uint32_t>(first.size())));
  ASSERT_EQ(3u, buffer.GetSegmentCount());
  buffer.Clear();
  EXPECT_EQ(0u, buffer.Size());
  EXPECT_EQ(3u, buffer.GetSegmentCount());
  uint8_t out[8];
  EXPECT_EQ(0u, buffer.ReadAt(out, sizeof(out), 0));
  ASSERT_TRUE(buffer.Append(second.data(), static_cast<uint32_t>(second.size())));
  EXPECT_EQ(second.size(), buffer.Size());
  EXPECT_EQ(3u, buffer.GetSegmentCount());
  EXPECT_EQ(second, ReadAll(buffer));
}

TEST(SegmentBufferTest, ReserveAddsZeroedPagesAndNeverShrinks) {
  const uint32_t page = SegmentBuffer::PageSize();
  SegmentBuffer buffer;
  buffer.Reserve(page + 1);
  EXPECT_EQ(2u, buffer.GetSegmentCount());
  EXPECT_EQ(2u * page, buffer.GetCapacity());
  EXPECT_EQ(0u, buffer.Size());
  buffer.Reserve(1);
  EXPECT_EQ(2u, buffer.GetSegmentCount());
  // The bytes already held stay where they are when the buffer grows.
  const auto bytes = Pattern(page + 10);
  ASSERT_TRUE(buffer.Append(bytes.data(), static_cast<uint32_t>(bytes.size())));
  buffer.Reserve(5 * page);
  EXPECT_EQ(5u, buffer.GetSegmentCount());
  EXPECT_EQ(bytes, ReadAll(buffer));
}

TEST(SegmentBufferTest, AppendThatWouldPassTheSizeLimitIsRefused) {
  SegmentBuffer buffer;
  const uint8_t byte = 1;
  ASSERT_TRUE(buffer.Append(&byte, 1));
  EXPECT_FALSE(buffer.Append(&byte, 0xFFFFFFFFu));
  EXPECT_FALSE(buffer.Append(nullptr, 5));
  EXPECT_EQ(1u, buffer.Size());
  EXPECT_EQ(1u, buffer.GetSegmentCount());
}

}  // namespace
