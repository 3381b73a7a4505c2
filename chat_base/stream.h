// Sequential byte sources that can be peeked and consumed: the bodies that a
// connection drains into its socket as the socket accepts them (peek a chunk,
// send it, then Read(nullptr, sent) to consume exactly what was sent).
//
// Every stream is uniquely owned and deleted through the virtual destructor.
// None is thread-safe; a stream is used by one thread at a time. Counts of
// what is left are 64-bit everywhere, so bodies of 4 GiB and more stream
// completely; a single Read or Peek moves at most INT_MAX bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "chat_base/buffer.h"

namespace chat_base {

class Stream {
 public:
  virtual ~Stream() = default;

  // Bytes from the current position to the end; never negative.
  virtual int64_t Remaining() = 0;

  // Consumes up to length bytes: copies them to destination, or skips them
  // when destination is null. Returns the number consumed (0 for length <= 0).
  virtual int Read(void* destination, int length) = 0;

  // Copies up to length bytes from the current position without consuming
  // them. Returns the number copied (0 without a destination).
  virtual int Peek(void* destination, int length) = 0;
};

// A stream over a uniquely owned Buffer (which may be null: then empty).
class BufferStream : public Stream {
 public:
  explicit BufferStream(std::unique_ptr<Buffer> buffer);
  ~BufferStream() override;

  int64_t Remaining() override;
  int Read(void* destination, int length) override;
  int Peek(void* destination, int length) override;

 private:
  std::unique_ptr<Buffer> buffer_;
  uint32_t position_ = 0;  // bytes consumed so far
};

// A stream over a regular file opened for reading. Owns the FILE handle and
// closes it on destruction. The size is measured once when opened; if the file
// turns out shorter while being read, the stream ends where the data ends.
class FileStream : public Stream {
 public:
  // path is UTF-8. Anything that is not a readable regular file (missing,
  // a directory, a device) leaves the stream closed and empty.
  explicit FileStream(const std::string& path);
  ~FileStream() override;

  bool IsOpen() const { return file_ != nullptr; }
  int64_t GetFileSize() const { return size_; }
  // The open file's descriptor (-1 when closed) and the offset of the next
  // byte, for a sender that lets the kernel copy the file (sendfile) and
  // then consumes what went out with Read(nullptr, count).
  int GetDescriptor() const { return file_ ? fileno(file_) : -1; }
  int64_t GetPosition() const { return position_; }

  int64_t Remaining() override;
  int Read(void* destination, int length) override;
  int Peek(void* destination, int length) override;

 private:
  int64_t Position();

  FILE* file_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;  // next byte to peek or read
};

// Several streams one after another (a response head, then its body). Owns
// its parts; a part may be null and then counts as empty.
class CombinedStream : public Stream {
 public:
  CombinedStream(std::unique_ptr<Stream> head, std::unique_ptr<Stream> tail);
  ~CombinedStream() override;

  // Adds one more part at the end.
  void Append(std::unique_ptr<Stream> part);

  // Sum of the parts' Remaining, in 64 bits.
  int64_t Remaining() override;
  int Read(void* destination, int length) override;
  int Peek(void* destination, int length) override;

 private:
  template <typename Op>
  int Walk(void* destination, int length, Op op);

  std::vector<std::unique_ptr<Stream>> parts_;
};

}  // namespace chat_base
