// The RTSP Transport header: parsing a client's list of specifications and
// writing the one the server chose. Plain values and functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace chat_rtsp {

struct RtspTransport {
  static constexpr int kUdp = 0;
  static constexpr int kTcp = 1;  // interleaved on the RTSP connection
  static constexpr int kUnicast = 0;
  static constexpr int kMulticast = 1;

  int protocol = kUdp;
  int delivery = kUnicast;
  std::vector<int> interleaved;   // two channels when given
  std::vector<int> client_ports;  // two ports when given
  uint32_t ssrc = 0;              // 0 = not given

  // Same protocol, delivery, channels and client ports (the SSRC is not compared).
  bool SameAs(const RtspTransport& other) const;
};

// The specifications of a Transport value, in order; empty when any of them is
// invalid (no protocol key, or a parameter with more than one "=").
std::vector<RtspTransport> ParseTransportHeader(const std::string& value);

// "RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=123" (client ports never written).
std::string TransportHeaderText(const RtspTransport& transport);

// A signed decimal from the text's leading characters; 0 without digits.
int LeadingInt(const std::string& text);

}  // namespace chat_rtsp
