// Transport header parsing over arbitrary text; whatever parses must write
// back and parse again to the same protocol, delivery and channels.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chat_rtsp/rtsp_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const chat_rtsp::RtspTransport& t : chat_rtsp::ParseTransportHeader(text)) {
    std::string written = chat_rtsp::TransportHeaderText(t);
    auto again = chat_rtsp::ParseTransportHeader(written);
    if (again.size() != 1 || again[0].protocol != t.protocol || again[0].delivery != t.delivery ||
        again[0].interleaved != t.interleaved) {
      __builtin_trap();
    }
  }
  return 0;
}
