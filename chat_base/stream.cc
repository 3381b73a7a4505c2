#include "chat_base/stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace chat_base {

// ---- BufferStream ----

BufferStream::BufferStream(std::unique_ptr<Buffer> buffer) : buffer_(std::move(buffer)) {}
BufferStream::~BufferStream() = default;

int64_t BufferStream::Remaining() {
  if (!buffer_) return 0;
  const uint32_t size = buffer_->Size();
  return size > position_ ? static_cast<int64_t>(size - position_) : 0;
}

int BufferStream::Peek(void* destination, int length) {
  if (!buffer_ || !destination || length <= 0) return 0;
  return static_cast<int>(buffer_->ReadAt(destination, static_cast<uint32_t>(length), position_));
}

int BufferStream::Read(void* destination, int length) {
  if (!buffer_ || length <= 0) return 0;
  int count;
  if (destination)
    count = Peek(destination, length);
  else
    count = static_cast<int>(std::min<int64_t>(length, Remaining()));
  position_ += static_cast<uint32_t>(count);
  return count;
}

// ---- FileStream ----

FileStream::FileStream(const std::string& path) {
  if (path.empty()) return;
  // "e": close-on-exec, so child processes never inherit served files.
  FILE* file = fopen(path.c_str(), "rbe");
  if (!file) return;
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || fseeko(file, 0, SEEK_END) != 0) {
    fclose(file);
    return;
  }
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) {
    fclose(file);
    return;
  }
  file_ = file;
  size_ = end;
}

FileStream::~FileStream() {
  if (file_) fclose(file_);
}

int64_t FileStream::Position() { return position_; }

int64_t FileStream::Remaining() {
  if (!file_) return 0;
  return std::max<int64_t>(0, size_ - position_);
}

// pread at a position kept here: one system call per chunk, and no stdio
// buffer refilled and thrown away by seeking back after every peek.
int FileStream::Peek(void* destination, int length) {
  if (!file_ || !destination || length <= 0) return 0;
  ssize_t n;
  do {
    n = pread(fileno(file_), destination, static_cast<size_t>(length), position_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return 0;
  // A short read means the file shrank since it was measured.
  if (n < length) size_ = std::min<int64_t>(size_, position_ + n);
  return static_cast<int>(n);
}

int FileStream::Read(void* destination, int length) {
  if (!file_ || length <= 0) return 0;
  const int count =
      destination
          ? Peek(destination, length)
          : static_cast<int>(std::min<int64_t>(length, std::max<int64_t>(0, size_ - position_)));
  position_ += count;
  return count;
}

// ---- CombinedStream ----

CombinedStream::CombinedStream(std::unique_ptr<Stream> head, std::unique_ptr<Stream> tail) {
  parts_.push_back(std::move(head));
  parts_.push_back(std::move(tail));
}

CombinedStream::~CombinedStream() = default;

void CombinedStream::Append(std::unique_ptr<Stream> part) { parts_.push_back(std::move(part)); }

int64_t CombinedStream::Remaining() {
  int64_t total = 0;
  for (auto& part : parts_)
    if (part) total += part->Remaining();
  return total;
}

template <typename Op>
int CombinedStream::Walk(void* destination, int length, Op op) {
  if (length <= 0) return 0;
  uint8_t* out = static_cast<uint8_t*>(destination);
  int done = 0;
  for (auto& part : parts_) {
    if (done >= length) break;
    if (!part) continue;
    const int64_t remaining = part->Remaining();
    if (remaining <= 0) continue;
    const int wanted = static_cast<int>(std::min<int64_t>(length - done, remaining));
    const int got = op(part.get(), out ? out + done : nullptr, length - done);
    if (got > 0) done += got;
    // A part that gave less than it holds stops the walk: continuing with the
    // next part would put its bytes in front of the ones still missing.
    if (got < wanted) break;
  }
  return done;
}

int CombinedStream::Read(void* destination, int length) {
  return Walk(destination, length,
              [](Stream* part, void* dest, int len) { return part->Read(dest, len); });
}

int CombinedStream::Peek(void* destination, int length) {
  if (!destination) return 0;
  return Walk(destination, length,
              [](Stream* part, void* dest, int len) { return part->Peek(dest, len); });
}

}  // namespace chat_base
