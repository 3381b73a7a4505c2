// Feeds arbitrary bytes to the RTSP message reader in arbitrary read sizes,
// the way a connection accumulates pending input, plus the Transport parser.
// The first byte gives the number of short reads (0..7) and the next ones
// their sizes (1..256); the rest arrives in one read. Any split point is
// reachable, and an input costs a few passes of the reader, not one per byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chat_base/segment_buffer.h"
#include "chat_rtsp/rtsp_message.h"
#include "chat_rtsp/rtsp_transport.h"

namespace {

// One pass of the reader over what is pending, as the connection makes
// after every read: an error or a complete request empties the input.
void ReadPending(chat_base::SegmentBuffer* pending) {
  chat_rtsp::RtspRequest request;
  const int r = chat_rtsp::ReadRtspRequest(*pending, &request);
  if (r == chat_rtsp::kReadError) {
    pending->Clear();
  } else if (r == chat_rtsp::kReadComplete) {
    if (request.method.size() >= 64 || request.url.size() >= 2048 || request.version.size() >= 64)
      __builtin_trap();
    for (const auto& h : request.Values("Transport")) chat_rtsp::ParseTransportHeader(h);
    pending->Clear();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t reads = data[0] % 8;
  if (size < 1 + reads) return 0;
  const uint8_t* sizes = data + 1;
  size_t at = 1 + reads;
  chat_base::SegmentBuffer pending;
  for (size_t i = 0; i <= reads && at < size; ++i) {
    const size_t step = i < reads ? static_cast<size_t>(sizes[i]) + 1 : size - at;
    const size_t n = size - at < step ? size - at : step;
    pending.Append(data + at, static_cast<uint32_t>(n));
    at += n;
    ReadPending(&pending);
  }
  return 0;
}
