#include "chat_rtsp/rtsp_message.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "base/log.h"

namespace chat_rtsp {
namespace {

// The reader walks a contiguous copy of the pending input.
class Cursor {
 public:
  explicit Cursor(const std::string& bytes) : bytes_(bytes) {}

  // Reads up to and including `delimiter` within `limit` bytes (the delimiter
  // counts); the token excludes the delimiter.
  int Token(char delimiter, int limit, std::string* token) {
    size_t begin = pos_;
    for (int n = 1; n <= limit; ++n) {
      if (pos_ >= bytes_.size()) return kReadIncomplete;
      if (bytes_[pos_++] == delimiter) {
        token->assign(bytes_, begin, pos_ - begin - 1);
        return kReadComplete;
      }
    }
    LogMessage(kLogError, "buffer length exceeds %d", limit);
    return kReadError;
  }

  int Expect(char c) {
    if (pos_ >= bytes_.size()) return kReadIncomplete;
    return bytes_[pos_++] == c ? kReadComplete : kReadError;
  }

  // The next byte without consuming it; -1 when none is buffered.
  int PeekByte() const {
    return pos_ < bytes_.size() ? static_cast<unsigned char>(bytes_[pos_]) : -1;
  }
  void Skip() { ++pos_; }
  size_t Left() const { return bytes_.size() - pos_; }
  const char* Here() const { return bytes_.data() + pos_; }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

bool IsTokenChar(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Leading decimal digits; saturates above the 32-bit range.
uint32_t ParseUnsigned(const std::string& text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

void AppendLine(chat_base::SegmentBuffer* out, const std::string& a, const char* separator,
                const std::string& b) {
  char scratch[1024];
  int n = std::snprintf(scratch, sizeof(scratch), "%s%s%s\r\n", a.c_str(), separator, b.c_str());
  if (n >= 0 && static_cast<size_t>(n) < sizeof(scratch)) {
    out->Append(scratch, static_cast<uint32_t>(n));
    return;
  }
  // Too long for the scratch area: append the pieces themselves rather than
  // truncating (a long url in RTP-Info is legitimate).
  out->Append(a.data(), static_cast<uint32_t>(a.size()));
  out->Append(separator, static_cast<uint32_t>(std::strlen(separator)));
  out->Append(b.data(), static_cast<uint32_t>(b.size()));
  out->Append("\r\n", 2);
}

}  // namespace

const std::vector<std::string>& RtspRequest::Values(const std::string& name) const {
  static const std::vector<std::string> kNone;
  auto it = headers.find(name);
  return it == headers.end() ? kNone : it->second;
}

std::string CanonicalHeaderName(const std::string& name) {
  std::string lower = Lower(name);
  if (lower == "rtp-info") return "RTP-Info";
  if (lower == "www-authenticate") return "WWW-Authenticate";
  if (lower == "cseq") return "CSeq";
  for (char c : name) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return name;
  }
  std::string out = lower;
  bool start = true;
  for (char& c : out) {
    if (start && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    start = c == '-';
  }
  return out;
}

int ReadRtspRequest(const chat_base::Buffer& input, RtspRequest* request) {
  std::string bytes(input.Size(), '\0');
  if (!bytes.empty()) input.ReadAt(&bytes[0], static_cast<uint32_t>(bytes.size()), 0);
  Cursor cursor(bytes);

  int r;
  if ((r = cursor.Token(' ', kMaxMethodLength, &request->method)) != kReadComplete) return r;
  if ((r = cursor.Token(' ', kMaxUrlLength, &request->url)) != kReadComplete) return r;
  if ((r = cursor.Token('\r', kMaxVersionLength, &request->version)) != kReadComplete) return r;
  if ((r = cursor.Expect('\n')) != kReadComplete) return r;

  unsigned count = 0;
  for (;;) {
    int c = cursor.PeekByte();
    if (c < 0) return kReadIncomplete;
    if (c == '\r') break;
    if (count == kMaxHeaderCount) {
      LogMessage(kLogError, "headers count exceeds %u", count);
      return kReadError;
    }
    std::string name;
    if ((r = cursor.Token(':', kMaxHeaderNameLength, &name)) != kReadComplete) return r;
    while ((c = cursor.PeekByte()) == ' ') cursor.Skip();
    if (c < 0) return kReadIncomplete;
    std::string value;
    if ((r = cursor.Token('\r', kMaxHeaderValueLength, &value)) != kReadComplete) return r;
    if ((r = cursor.Expect('\n')) != kReadComplete) return r;
    request->headers[CanonicalHeaderName(name)].push_back(std::move(value));
    ++count;
  }
  cursor.Skip();
  if ((r = cursor.Expect('\n')) != kReadComplete) return r;

  auto it = request->headers.find("Content-Length");
  if (it == request->headers.end()) return kReadComplete;
  if (it->second.size() > 1) return kReadError;
  uint32_t length = ParseUnsigned(it->second.front());
  if (length > kMaxBodyLength) {
    LogMessage(kLogError, "Content-Length exceeds %u (it's %u)", kMaxBodyLength, length);
    return kReadError;
  }
  if (cursor.Left() < length) return kReadIncomplete;
  request->body.Clear();
  request->body.Append(cursor.Here(), length);
  return kReadComplete;
}

const char* RtspStatusReason(int status) {
  // Built once; a function-local static is initialised thread-safely.
  static const std::map<int, const char*> kReasons = {
      {100, "Continue"},
      {200, "OK"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Auth Required"},
      {408, "Request Timeout"},
      {410, "Gone"},
      {412, "Precondition Failed"},
      {413, "Request Entity Too Large"},
      {414, "Request URI Too Long"},
      {415, "Unsupported Media Type"},
      {451, "Parameter Not Understood"},
      {453, "Not Enough Bandwidth"},
      {454, "Session Not Found"},
      {455, "Method Not Valid In This State"},
      {456, "Header Field Not Valid for Resource"},
      {457, "Invalid Range"},
      {458, "Parameter Is Read-Only"},
      {459, "Aggregate Operation Not Allowed"},
      {460, "Only Aggregate Operation Allowed"},
      {461, "Unsupported Transport"},
      {462, "Destination Unreachable"},
      {463, "Destination Prohibited"},
      {464, "Data Transport Not Ready Yet"},
      {465, "Notification Reason Unknown"},
      {466, "Key Management Error"},
      {470, "Connection Authorization Required"},
      {471, "Connection Credentials Not Accepted"},
      {472, "Failure to Establish Secure Connection"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "RTSP Version Not Supported"},
      {551, "Option Not Supported"},
      {553, "Proxy Unavailable"},
  };
  auto it = kReasons.find(status);
  return it == kReasons.end() ? "" : it->second;
}

std::unique_ptr<chat_base::Stream> WriteRtspResponse(RtspResponse* response) {
  if (response->reason.empty()) response->reason = RtspStatusReason(response->status);
  auto head = std::make_unique<chat_base::SegmentBuffer>();
  AppendLine(head.get(), response->version + " " + std::to_string(response->status), " ",
             response->reason);
  for (const auto& header : response->headers) {
    for (const std::string& value : header.second)
      AppendLine(head.get(), header.first, ": ", value);
  }
  head->Append("\r\n", 2);
  return std::make_unique<chat_base::CombinedStream>(
      std::make_unique<chat_base::BufferStream>(std::move(head)), std::move(response->body));
}

}  // namespace chat_rtsp
