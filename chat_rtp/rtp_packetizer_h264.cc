#include "chat_rtp/rtp_packetizer_h264.h"

#include <cstring>

namespace chat_rtp {
namespace {

constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
constexpr size_t kFuOverhead = 2;         // FU indicator and FU header
constexpr size_t kStapFirstOverhead = 5;  // STAP-A header and two size fields
constexpr size_t kStapNextOverhead = 2;   // one more size field
constexpr size_t kMaxStapUnit = 0xFFFF;   // STAP-A sizes are 16 bits

}  // namespace

RtpPacketizerH264::RtpPacketizerH264(const uint8_t* picture, size_t size, size_t max_payload_size,
                                     int mode)
    : max_payload_size_(max_payload_size) {
  if (mode != 0 || picture == nullptr) return;
  for (const NalUnit& unit : FindNalUnits(picture, size)) nal_units_.push_back(unit);
  if (!Plan()) {
    plan_.clear();
    nal_units_.clear();
    remaining_packets_ = 0;
  }
}

bool RtpPacketizerH264::Plan() {
  const size_t m = max_payload_size_;
  size_t index = 0;
  while (index < nal_units_.size()) {
    const NalUnit& unit = nal_units_[index];
    if (unit.size > m) {
      if (m <= kFuOverhead) return false;
      const size_t body = unit.size - 1;
      const size_t count = (body + (m - kFuOverhead) - 1) / (m - kFuOverhead);
      const size_t base = body / count;
      const size_t longer_from = count - body % count;  // the last (body % count) get one more byte
      const uint8_t* p = unit.data + 1;
      for (size_t k = 0; k < count; ++k) {
        size_t length = base + (k >= longer_from ? 1 : 0);
        plan_.push_back({p, length, k == 0, k + 1 == count, false, unit.data[0]});
        p += length;
      }
      remaining_packets_ += static_cast<int>(count);
      ++index;
      continue;
    }
    remaining_packets_ += 1;
    plan_.push_back({unit.data, unit.size, true, false, true, unit.data[0]});
    size_t budget = m - unit.size;
    size_t overhead = kStapFirstOverhead;
    ++index;
    // A unit too large for a STAP-A size field stays alone.
    bool may_aggregate = unit.size <= kMaxStapUnit;
    while (may_aggregate && index < nal_units_.size()) {
      const NalUnit& next = nal_units_[index];
      if (next.size > kMaxStapUnit || next.size + overhead > budget) break;
      budget -= next.size + overhead;
      overhead = kStapNextOverhead;
      plan_.push_back({next.data, next.size, false, false, true, next.data[0]});
      ++index;
    }
    plan_.back().last = true;
  }
  return true;
}

bool RtpPacketizerH264::NextPacket(RtpPacket* packet) {
  if (plan_.empty()) return false;
  Descriptor d = plan_.front();
  if (d.first && d.last) {
    std::memcpy(packet->ResizePayload(d.size), d.data, d.size);
    plan_.pop_front();
    nal_units_.pop_front();
  } else if (d.aggregate) {
    size_t total = 1;
    for (const Descriptor& part : plan_) {
      total += 2 + part.size;
      if (part.last) break;
    }
    uint8_t* out = packet->ResizePayload(total);
    *out++ = static_cast<uint8_t>((d.header & 0xE0) | kStapA);
    bool last = false;
    while (!last) {
      const Descriptor& part = plan_.front();
      *out++ = static_cast<uint8_t>(part.size >> 8);
      *out++ = static_cast<uint8_t>(part.size);
      std::memcpy(out, part.data, part.size);
      out += part.size;
      last = part.last;
      plan_.pop_front();
      nal_units_.pop_front();
    }
  } else {
    uint8_t* out = packet->ResizePayload(kFuOverhead + d.size);
    out[0] = static_cast<uint8_t>((d.header & 0xE0) | kFuA);
    out[1] = static_cast<uint8_t>((d.first ? 0x80 : 0) | (d.last ? 0x40 : 0) | (d.header & 0x1F));
    std::memcpy(out + kFuOverhead, d.data, d.size);
    plan_.pop_front();
    if (d.last) nal_units_.pop_front();
  }
  packet->SetMarker(plan_.empty());
  --remaining_packets_;
  return true;
}

}  // namespace chat_rtp
