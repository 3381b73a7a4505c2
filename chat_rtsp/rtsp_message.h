// RTSP/1.0 requests and responses: the records, the incremental message
// reader with its limits, canonical header names, the status reason table and
// the response writer. Plain functions and values, usable from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "chat_base/buffer.h"
#include "chat_base/segment_buffer.h"
#include "chat_base/stream.h"

namespace chat_rtsp {

using RtspHeaders = std::unordered_map<std::string, std::vector<std::string>>;

struct RtspRequest {
  std::string method;
  std::string url;  // the request target as received
  std::string version;
  RtspHeaders headers;  // canonical name -> values, one per header line in arrival order
  chat_base::SegmentBuffer body;

  // The values of a header by canonical name; empty when absent.
  const std::vector<std::string>& Values(const std::string& name) const;
};

struct RtspResponse {
  explicit RtspResponse(int status_code = 200) : status(status_code) {
    headers["Server"] = {"QNChat"};
  }

  std::string version = "RTSP/1.0";
  int status;
  std::string reason;  // taken from the status table when left empty
  RtspHeaders headers;
  std::unique_ptr<chat_base::Stream> body;
};

// Limits of the reader, each counting the token's delimiter.
constexpr int kMaxMethodLength = 64;
constexpr int kMaxUrlLength = 2048;
constexpr int kMaxVersionLength = 64;
constexpr int kMaxHeaderNameLength = 512;
constexpr int kMaxHeaderValueLength = 512;
constexpr int kMaxHeaderCount = 255;
constexpr uint32_t kMaxBodyLength = 131072;

constexpr int kReadComplete = 1;
constexpr int kReadIncomplete = 0;
constexpr int kReadError = -1;

// Reads one message from the start of `input` into `request` (which must be
// fresh). kReadComplete when a whole message is there, kReadIncomplete when
// more bytes are needed, kReadError (logged) on a malformed message or one
// beyond the limits. Bytes after the message are not looked at.
int ReadRtspRequest(const chat_base::Buffer& input, RtspRequest* request);

// "cseq" -> "CSeq", "content-length" -> "Content-Length"; a name with a
// character outside the token characters stays as it is.
std::string CanonicalHeaderName(const std::string& name);

// The reason phrase for a status code, "" for a code not in the table.
const char* RtspStatusReason(int status);

// Serialises the response: status line, every header value, blank line, then
// the body (moved out of `response`). Lines of any length are written whole.
std::unique_ptr<chat_base::Stream> WriteRtspResponse(RtspResponse* response);

}  // namespace chat_rtsp
