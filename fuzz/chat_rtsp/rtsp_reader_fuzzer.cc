// Feeds arbitrary bytes to the RTSP message reader in arbitrary read sizes,
// the way a connection accumulates pending input, plus the Transport parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chat_base/segment_buffer.h"
#include "chat_rtsp/rtsp_message.h"
#include "chat_rtsp/rtsp_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the read size (1..256), as a socket would split input.
  size_t step = static_cast<size_t>(data[0]) + 1;
  chat_base::SegmentBuffer pending;
  for (size_t at = 1; at < size; at += step) {
    size_t n = size - at < step ? size - at : step;
    pending.Append(data + at, static_cast<uint32_t>(n));
    chat_rtsp::RtspRequest request;
    int r = chat_rtsp::ReadRtspRequest(pending, &request);
    if (r == chat_rtsp::kReadError) {
      pending.Clear();
    } else if (r == chat_rtsp::kReadComplete) {
      if (request.method.size() >= 64 || request.url.size() >= 2048 || request.version.size() >= 64)
        __builtin_trap();
      for (const auto& h : request.Values("Transport")) chat_rtsp::ParseTransportHeader(h);
      pending.Clear();
    }
  }
  return 0;
}
