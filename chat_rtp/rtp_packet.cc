#include "chat_rtp/rtp_packet.h"

namespace chat_rtp {
namespace {

void PutBigEndian(uint8_t* out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

}  // namespace

void RtpPacket::Reset() {
  marker_ = false;
  payload_type_ = 0;
  sequence_ = 0;
  timestamp_ = 0;
  ssrc_ = 0;
  payload_size_ = 0;
  bytes_.assign(kHeaderSize, 0);
  bytes_[0] = 0x80;
}

void RtpPacket::SetMarker(bool marker) {
  marker_ = marker;
  bytes_[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | payload_type_);
}

void RtpPacket::SetPayloadType(uint8_t payload_type) {
  payload_type_ = payload_type & 0x7F;
  bytes_[1] = static_cast<uint8_t>((marker_ ? 0x80 : 0) | payload_type_);
}

void RtpPacket::SetSequence(uint16_t sequence) {
  sequence_ = sequence;
  PutBigEndian(&bytes_[2], sequence, 2);
}

void RtpPacket::SetTimestamp(uint32_t timestamp) {
  timestamp_ = timestamp;
  PutBigEndian(&bytes_[4], timestamp, 4);
}

void RtpPacket::SetSsrc(uint32_t ssrc) {
  ssrc_ = ssrc;
  PutBigEndian(&bytes_[8], ssrc, 4);
}

uint8_t* RtpPacket::ResizePayload(size_t size) {
  bytes_.resize(kHeaderSize + size, 0);
  payload_size_ = size;
  return bytes_.data() + kHeaderSize;
}

}  // namespace chat_rtp
