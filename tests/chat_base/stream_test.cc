#include "chat_base/stream.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "chat_base/segment_buffer.h"

namespace {

using chat_base::BufferStream;
using chat_base::CombinedStream;
using chat_base::FileStream;
using chat_base::SegmentBuffer;
using chat_base::Stream;

std::string Pattern(size_t length, char seed = 'a') {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(seed + i % 23 + i / 97);
  return bytes;
}

std::unique_ptr<BufferStream> MakeBufferStream(const std::string& bytes) {
  auto buffer = std::make_unique<SegmentBuffer>();
  EXPECT_TRUE(buffer->Append(bytes.data(), static_cast<uint32_t>(bytes.size())));
  return std::make_unique<BufferStream>(std::move(buffer));
}

// A private directory under TMPDIR, removed with its files afterwards.
class StreamFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/stream_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    for (const auto& path : files_) unlink(path.c_str());
    if (!dir_.empty()) rmdir(dir_.c_str());
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    files_.push_back(path);
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, file);
    if (!file) return path;
    EXPECT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), file));
    fclose(file);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST(BufferStreamTest, SkippingMoreThanHeldConsumesWhatIsThere) {
  auto stream = MakeBufferStream("0123456789");
  EXPECT_EQ(10, stream->Remaining());
  EXPECT_EQ(10, stream->Read(nullptr, 25));
  EXPECT_EQ(0, stream->Remaining());
  char out[4];
  EXPECT_EQ(0, stream->Read(out, 4));
  EXPECT_EQ(0, stream->Peek(out, 4));
  EXPECT_EQ(0, stream->Read(nullptr, 4));
}

TEST(BufferStreamTest, PeekDoesNotConsumeAndReadAdvances) {
  auto stream = MakeBufferStream("abcdefghij");
  char out[8] = {};
  EXPECT_EQ(4, stream->Peek(out, 4));
  EXPECT_EQ(4, stream->Peek(out, 4));
  EXPECT_EQ(10, stream->Remaining());
  EXPECT_EQ(0, std::memcmp(out, "abcd", 4));
  EXPECT_EQ(3, stream->Read(out, 3));
  EXPECT_EQ(0, std::memcmp(out, "abc", 3));
  EXPECT_EQ(2, stream->Read(nullptr, 2));
  EXPECT_EQ(5, stream->Peek(out, 8));
  EXPECT_EQ(0, std::memcmp(out, "fghij", 5));
  EXPECT_EQ(5, stream->Remaining());
}

TEST(BufferStreamTest, EmptyZeroAndNegativeRequests) {
  BufferStream none(nullptr);
  char out[4];
  EXPECT_EQ(0, none.Remaining());
  EXPECT_EQ(0, none.Read(out, 4));
  EXPECT_EQ(0, none.Peek(out, 4));
  auto stream = MakeBufferStream("xyz");
  EXPECT_EQ(0, stream->Peek(nullptr, 3));
  EXPECT_EQ(0, stream->Read(out, 0));
  EXPECT_EQ(0, stream->Read(out, -5));
  EXPECT_EQ(0, stream->Read(nullptr, -5));
  EXPECT_EQ(3, stream->Remaining());
}

// Draining in peek-then-consume steps across page boundaries, the way a
// connection feeds its socket.
TEST(BufferStreamTest, ChunkedDrainAcrossSegmentsYieldsEveryByteOnce) {
  const std::string bytes = Pattern(3 * SegmentBuffer::PageSize() + 123);
  auto stream = MakeBufferStream(bytes);
  std::string drained;
  char chunk[1000];
  int sent_limit = 1;
  while (stream->Remaining() > 0) {
    const int peeked = stream->Peek(chunk, sizeof(chunk));
    ASSERT_GT(peeked, 0);
    const int sent = std::min(peeked, sent_limit);  // a socket taking a part
    drained.append(chunk, sent);
    ASSERT_EQ(sent, stream->Read(nullptr, sent));
    sent_limit = sent_limit * 3 % 997 + 1;
  }
  EXPECT_EQ(bytes, drained);
}

TEST_F(StreamFileTest, MissingFileIsClosedAndEmpty) {
  FileStream stream(dir_ + "/missing");
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(0, stream.Remaining());
  char out[4];
  EXPECT_EQ(0, stream.Read(out, 4));
  EXPECT_EQ(0, stream.Read(nullptr, 4));
  EXPECT_EQ(0, stream.Peek(out, 4));
  FileStream empty_path("");
  EXPECT_FALSE(empty_path.IsOpen());
}

TEST_F(StreamFileTest, DirectoryIsNotServedAsAFile) {
  FileStream stream(dir_);
  EXPECT_FALSE(stream.IsOpen());
  EXPECT_EQ(0, stream.Remaining());
}

TEST_F(StreamFileTest, PeekTwiceGivesTheSameBytesAndKeepsRemaining) {
  const std::string bytes = Pattern(1000);
  FileStream stream(WriteFile("body", bytes));
  ASSERT_TRUE(stream.IsOpen());
  EXPECT_EQ(1000, stream.GetFileSize());
  char first[100], second[100];
  EXPECT_EQ(100, stream.Peek(first, 100));
  EXPECT_EQ(100, stream.Peek(second, 100));
  EXPECT_EQ(0, std::memcmp(first, second, 100));
  EXPECT_EQ(0, std::memcmp(first, bytes.data(), 100));
  EXPECT_EQ(1000, stream.Remaining());
}

TEST_F(StreamFileTest, ReadSkipAndEnd) {
  const std::string bytes = Pattern(1000);
  FileStream stream(WriteFile("body", bytes));
  char out[64];
  EXPECT_EQ(10, stream.Read(out, 10));
  EXPECT_EQ(0, std::memcmp(out, bytes.data(), 10));
  EXPECT_EQ(500, stream.Read(nullptr, 500));
  EXPECT_EQ(490, stream.Remaining());
  EXPECT_EQ(64, stream.Peek(out, 64));
  EXPECT_EQ(0, std::memcmp(out, bytes.data() + 510, 64));
  // Skipping past the end stops at the end and reports what was skipped.
  EXPECT_EQ(490, stream.Read(nullptr, 100000));
  EXPECT_EQ(0, stream.Remaining());
  EXPECT_EQ(0, stream.Read(nullptr, 10));
  EXPECT_EQ(0, stream.Read(out, 10));
  EXPECT_EQ(0, stream.Peek(out, 10));
}

// Larger than the C library's read buffer, so the cut part is not already
// buffered when the file shrinks.
TEST_F(StreamFileTest, FileThatShrinksEndsWhereTheDataEnds) {
  const std::string path = WriteFile("shrinking", Pattern(200000));
  FileStream stream(path);
  ASSERT_TRUE(stream.IsOpen());
  ASSERT_EQ(0, truncate(path.c_str(), 50000));
  EXPECT_EQ(40000, stream.Read(nullptr, 40000));
  std::vector<char> out(20000);
  EXPECT_EQ(10000, stream.Peek(out.data(), 20000));
  EXPECT_EQ(10000, stream.Remaining());
  EXPECT_EQ(10000, stream.Read(nullptr, 20000));
  EXPECT_EQ(0, stream.Remaining());
}

TEST_F(StreamFileTest, CombinedHeadAndFilePeekThenSkip) {
  const std::string head = Pattern(30, 'A');
  const std::string body = Pattern(1000, 'a');
  CombinedStream stream(MakeBufferStream(head),
                        std::make_unique<FileStream>(WriteFile("body", body)));
  EXPECT_EQ(1030, stream.Remaining());
  std::vector<char> out(500);
  ASSERT_EQ(500, stream.Peek(out.data(), 500));
  EXPECT_EQ(0, std::memcmp(out.data(), head.data(), 30));
  EXPECT_EQ(0, std::memcmp(out.data() + 30, body.data(), 470));
  EXPECT_EQ(1030, stream.Remaining());
  EXPECT_EQ(500, stream.Read(nullptr, 500));
  EXPECT_EQ(530, stream.Remaining());
  ASSERT_EQ(530, stream.Read(out.data(), 500) + stream.Read(out.data() + 0, 0) +
                     stream.Read(nullptr, 30));
  EXPECT_EQ(0, stream.Remaining());
  EXPECT_EQ(0, stream.Read(out.data(), 10));
}

TEST_F(StreamFileTest, CombinedChunkedDrainMatchesTheConcatenation) {
  const std::string head = Pattern(77, 'H');
  const std::string body = Pattern(20000, 'b');
  const std::string tail = Pattern(5, 'T');
  CombinedStream stream(MakeBufferStream(head),
                        std::make_unique<FileStream>(WriteFile("body", body)));
  stream.Append(nullptr);
  stream.Append(MakeBufferStream(""));
  stream.Append(MakeBufferStream(tail));
  EXPECT_EQ(static_cast<int64_t>(head.size() + body.size() + tail.size()), stream.Remaining());
  std::string drained;
  char chunk[4096];
  int step = 1;
  while (stream.Remaining() > 0) {
    const int peeked = stream.Peek(chunk, sizeof(chunk));
    ASSERT_GT(peeked, 0);
    const int sent = std::min(peeked, step);
    drained.append(chunk, sent);
    ASSERT_EQ(sent, stream.Read(nullptr, sent));
    step = step * 5 % 3001 + 1;
  }
  EXPECT_EQ(head + body + tail, drained);
}

TEST(CombinedStreamTest, EmptyPartsCountNothing) {
  CombinedStream stream(nullptr, nullptr);
  char out[4];
  EXPECT_EQ(0, stream.Remaining());
  EXPECT_EQ(0, stream.Read(out, 4));
  EXPECT_EQ(0, stream.Read(nullptr, 4));
  EXPECT_EQ(0, stream.Peek(out, 4));
  CombinedStream head_only(MakeBufferStream("abc"), nullptr);
  EXPECT_EQ(3, head_only.Remaining());
  EXPECT_EQ(0, head_only.Peek(nullptr, 3));
  EXPECT_EQ(3, head_only.Read(out, 4));
  EXPECT_EQ(0, std::memcmp(out, "abc", 3));
}

// A part that delivers less than it claims (a file cut short under us) must
// not let the next part's bytes slip in front of the missing ones.
TEST_F(StreamFileTest, CombinedStopsAtAPartThatFallsShort) {
  const std::string body = Pattern(100000);
  const std::string path = WriteFile("cut", body);
  CombinedStream stream(std::make_unique<FileStream>(path), MakeBufferStream("TAIL"));
  ASSERT_EQ(0, truncate(path.c_str(), 40000));
  ASSERT_EQ(39990, stream.Read(nullptr, 39990));
  char out[200];
  EXPECT_EQ(10, stream.Peek(out, 200));
  EXPECT_EQ(0, std::memcmp(out, body.data() + 39990, 10));
  EXPECT_EQ(14, stream.Remaining());
  EXPECT_EQ(14, stream.Peek(out, 200));
  EXPECT_EQ(0, std::memcmp(out + 10, "TAIL", 4));
}

// Bodies of 4 GiB and more: the count must not wrap at 32 bits.
TEST_F(StreamFileTest, CombinedOverASparseFileLargerThanFourGiB) {
  constexpr int64_t kFileSize = (int64_t{1} << 32) + 12345;
  const std::string path = dir_ + "/sparse";
  files_.push_back(path);
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ftruncate(fd, kFileSize));
  const std::string marker = "end-of-a-large-body";
  ASSERT_EQ(static_cast<ssize_t>(marker.size()),
            pwrite(fd, marker.data(), marker.size(), kFileSize - marker.size()));
  close(fd);

  const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
  CombinedStream stream(MakeBufferStream(head), std::make_unique<FileStream>(path));
  EXPECT_EQ(static_cast<int64_t>(head.size()) + kFileSize, stream.Remaining());

  // Skipping is a seek, so reaching the tail of the sparse file is quick.
  const auto started = std::chrono::steady_clock::now();
  int64_t consumed = 0;
  const int64_t to_skip = stream.Remaining() - 4096;
  while (consumed < to_skip) {
    const int step = static_cast<int>(std::min<int64_t>(INT_MAX, to_skip - consumed));
    const int skipped = stream.Read(nullptr, step);
    ASSERT_EQ(step, skipped);
    consumed += skipped;
  }
  EXPECT_EQ(4096, stream.Remaining());
  std::vector<char> tail(8192);
  ASSERT_EQ(4096, stream.Read(tail.data(), 8192));
  consumed += 4096;
  EXPECT_EQ(static_cast<int64_t>(head.size()) + kFileSize, consumed);
  EXPECT_EQ(marker, std::string(tail.data() + 4096 - marker.size(), marker.size()));
  EXPECT_EQ(std::string(100, '\0'), std::string(tail.data(), 100));
  EXPECT_EQ(0, stream.Remaining());
  EXPECT_EQ(0, stream.Read(tail.data(), 1));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

}  // namespace
