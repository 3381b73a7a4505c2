#include "chat_rtsp/rtsp_transport.h"

#include <climits>

namespace chat_rtsp {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t begin = 0;
  for (;;) {
    size_t end = text.find(separator, begin);
    pieces.push_back(
        text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return pieces;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// "a-b" gives two numbers; anything else none.
std::vector<int> ParsePair(const std::string& value) {
  std::vector<std::string> pieces = Split(value, '-');
  if (pieces.size() != 2) return {};
  return {LeadingInt(pieces[0]), LeadingInt(pieces[1])};
}

bool ParseSpecification(const std::string& text, RtspTransport* transport) {
  bool has_protocol = false;
  for (const std::string& piece : Split(text, ';')) {
    if (piece.empty()) continue;
    std::vector<std::string> kv = Split(piece, '=');
    if (kv.size() > 2) return false;
    const std::string& key = kv[0];
    if (key == "RTP/AVP" || key == "RTP/AVP/UDP") {
      transport->protocol = RtspTransport::kUdp;
      has_protocol = true;
    } else if (key == "RTP/AVP/TCP") {
      transport->protocol = RtspTransport::kTcp;
      has_protocol = true;
    } else if (key == "unicast") {
      transport->delivery = RtspTransport::kUnicast;
    } else if (key == "multicast") {
      transport->delivery = RtspTransport::kMulticast;
    } else if (key == "interleaved" && kv.size() == 2) {
      transport->interleaved = ParsePair(kv[1]);
    } else if (key == "client_port" && kv.size() == 2) {
      transport->client_ports = ParsePair(kv[1]);
    }
  }
  return has_protocol;
}

}  // namespace

bool RtspTransport::SameAs(const RtspTransport& other) const {
  return protocol == other.protocol && delivery == other.delivery &&
         interleaved == other.interleaved && client_ports == other.client_ports;
}

int LeadingInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

std::vector<RtspTransport> ParseTransportHeader(const std::string& value) {
  std::vector<RtspTransport> transports;
  for (const std::string& piece : Split(value, ',')) {
    size_t begin = 0;
    while (begin < piece.size() && IsSpace(piece[begin])) ++begin;
    if (begin == piece.size()) continue;
    RtspTransport transport;
    if (!ParseSpecification(piece.substr(begin), &transport)) return {};
    transports.push_back(transport);
  }
  return transports;
}

std::string TransportHeaderText(const RtspTransport& transport) {
  std::string text = transport.protocol == RtspTransport::kTcp ? "RTP/AVP/TCP" : "RTP/AVP/UDP";
  text += transport.delivery == RtspTransport::kMulticast ? ";multicast" : ";unicast";
  if (transport.interleaved.size() == 2) {
    text += ";interleaved=" + std::to_string(transport.interleaved[0]) + "-" +
            std::to_string(transport.interleaved[1]);
  }
  if (transport.ssrc != 0) text += ";ssrc=" + std::to_string(transport.ssrc);
  return text;
}

}  // namespace chat_rtsp
