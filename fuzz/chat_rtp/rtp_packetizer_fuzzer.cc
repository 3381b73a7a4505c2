// The H.264 packetizer over arbitrary pictures and maximum payloads: every
// packet fits its maximum, the count matches, only the last has the marker,
// and depacketizing gives back exactly the picture's NAL units.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "chat_rtp/h264_nal.h"
#include "chat_rtp/rtp_packetizer_h264.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t max_payload = (static_cast<size_t>(data[0]) << 8 | data[1]) % 3000;
  std::vector<uint8_t> picture(data + 2, data + size);  // exact-size copy so ASan sees overreads
  std::vector<chat_rtp::NalUnit> units = chat_rtp::FindNalUnits(picture.data(), picture.size());
  // Units whose own type is an RTP aggregation or fragment type (24..29)
  // cannot be told apart from them by a receiver; only sizes are checked then.
  bool ambiguous = false;
  for (const auto& u : units) ambiguous |= chat_rtp::NalType(u) >= 24 && chat_rtp::NalType(u) <= 29;
  chat_rtp::RtpPacketizerH264 packetizer(picture.data(), picture.size(), max_payload, 0);
  int expected = packetizer.RemainingPackets();
  // The packet and the fragment being joined live for the whole run (their
  // buffers reused), and each unit rebuilt is compared at once with the
  // picture's instead of being copied out first: per-input allocations were
  // most of the time spent outside the packetizer.
  static chat_rtp::RtpPacket& packet = *new chat_rtp::RtpPacket;
  static std::vector<uint8_t>& fragment = *new std::vector<uint8_t>;
  fragment.clear();
  size_t next_unit = 0;
  auto rebuilt = [&](const uint8_t* p, size_t n) {
    if (next_unit >= units.size() || units[next_unit].size != n ||
        (n > 0 && std::memcmp(units[next_unit].data, p, n) != 0))
      __builtin_trap();
    ++next_unit;
  };
  int produced = 0;
  for (;;) {
    packet.Reset();
    if (!packetizer.NextPacket(&packet)) break;
    ++produced;
    const size_t n = packet.GetPayloadSize();
    const uint8_t* p = packet.GetPayload();
    if (n > max_payload || n == 0) __builtin_trap();
    if (packet.GetMarker() != (packetizer.RemainingPackets() == 0)) __builtin_trap();
    uint8_t type = p[0] & 0x1F;
    if (ambiguous) {
      continue;
    } else if (type == 24) {
      size_t at = 1;
      while (at < n) {
        if (at + 2 > n) __builtin_trap();
        size_t len = static_cast<size_t>(p[at]) << 8 | p[at + 1];
        at += 2;
        if (at + len > n) __builtin_trap();
        rebuilt(p + at, len);
        at += len;
      }
    } else if (type == 28) {
      if (n < 2) __builtin_trap();
      if (p[1] & 0x80) fragment.assign(1, static_cast<uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F)));
      fragment.insert(fragment.end(), p + 2, p + n);
      if (p[1] & 0x40) rebuilt(fragment.data(), fragment.size());
    } else {
      rebuilt(p, n);
    }
  }
  if (produced != expected) __builtin_trap();
  if (produced > 0 && !ambiguous && next_unit != units.size()) __builtin_trap();
  return 0;
}
