// One RTP packet being built: the 12-byte header (version 2, no padding, no
// extension, no CSRC) followed by the payload. Every header field is kept both
// as a value and in the header bytes. A plain value, owned by its user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chat_rtp {

class RtpPacket {
 public:
  static constexpr size_t kHeaderSize = 12;

  RtpPacket() { Reset(); }

  // Marker false, every number 0, no payload.
  void Reset();

  void SetMarker(bool marker);
  // Only the low 7 bits count; keeps the marker bit.
  void SetPayloadType(uint8_t payload_type);
  void SetSequence(uint16_t sequence);
  void SetTimestamp(uint32_t timestamp);
  void SetSsrc(uint32_t ssrc);

  // Makes the payload `size` bytes long (existing bytes kept, new ones zero)
  // and returns it.
  uint8_t* ResizePayload(size_t size);

  bool GetMarker() const { return marker_; }
  uint8_t GetPayloadType() const { return payload_type_; }
  uint16_t GetSequence() const { return sequence_; }
  uint32_t GetTimestamp() const { return timestamp_; }
  uint32_t GetSsrc() const { return ssrc_; }
  size_t GetHeaderSize() const { return kHeaderSize; }
  size_t GetPayloadSize() const { return payload_size_; }
  const uint8_t* GetPayload() const { return bytes_.data() + kHeaderSize; }

  // Header and payload, ready to send.
  const uint8_t* GetData() const { return bytes_.data(); }
  size_t GetSize() const { return bytes_.size(); }

 private:
  bool marker_ = false;
  uint8_t payload_type_ = 0;
  uint16_t sequence_ = 0;
  uint32_t timestamp_ = 0;
  uint32_t ssrc_ = 0;
  size_t payload_size_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace chat_rtp
