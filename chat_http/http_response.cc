#include "chat_http/http_response.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "chat_base/segment_buffer.h"

namespace chat_http {

namespace {

constexpr int kLineScratch = 1024;

// Formats one line followed by CR LF. Lines that do not fit the scratch area
// are formatted again into memory of their exact size, so a long header value
// is sent whole rather than cut.
void AppendLine(chat_base::SegmentBuffer* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void AppendLine(chat_base::SegmentBuffer* out, const char* format, ...) {
  char scratch[kLineScratch];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = vsnprintf(scratch, sizeof(scratch), format, args);
  va_end(args);
  if (n >= 0 && n < kLineScratch) {
    out->Append(scratch, static_cast<uint32_t>(n));
  } else if (n >= 0) {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    vsnprintf(big.data(), big.size(), format, again);
    out->Append(big.data(), static_cast<uint32_t>(n));
  }
  va_end(again);
  out->Append("\r\n", 2);
}

}  // namespace

HttpResponse::HttpResponse() { headers.emplace("Server", "QNChat"); }

void HttpResponse::AddHeader(const std::string& name, const std::string& value) {
  headers.emplace(name, value);
}

std::unique_ptr<chat_base::Stream> SerializeResponse(HttpResponse& response) {
  auto head = std::make_unique<chat_base::SegmentBuffer>();
  AppendLine(head.get(), "%s %d %s", response.version.c_str(), response.status,
             response.reason.c_str());
  for (const auto& header : response.headers)
    AppendLine(head.get(), "%s: %s", header.first.c_str(), header.second.c_str());
  head->Append("\r\n", 2);
  return std::make_unique<chat_base::CombinedStream>(
      std::make_unique<chat_base::BufferStream>(std::move(head)), std::move(response.body));
}

}  // namespace chat_http
