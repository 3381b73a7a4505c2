// H.264 packetizer (RFC 6184, packetization mode 1): NAL units larger than the
// maximum payload go out as FU-A fragments, runs of small units as STAP-A
// packets, a unit that fits alone as a single-NAL-unit packet. The marker is
// set on the picture's last packet. Plans every packet at construction and
// points into the caller's picture, which must outlive the packetizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "chat_rtp/h264_nal.h"
#include "chat_rtp/rtp_packetizer.h"

namespace chat_rtp {

class RtpPacketizerH264 : public RtpPacketizer {
 public:
  // Mode 0 is the only scheme; any other mode, or a picture that cannot be cut
  // to fit `max_payload_size`, produces no packet.
  RtpPacketizerH264(const uint8_t* picture, size_t size, size_t max_payload_size, int mode);

  int RemainingPackets() const override { return remaining_packets_; }
  bool NextPacket(RtpPacket* packet) override;

 private:
  struct Descriptor {
    const uint8_t* data;
    size_t size;
    bool first;
    bool last;
    bool aggregate;
    uint8_t header;  // the NAL unit's header byte
  };

  bool Plan();

  const size_t max_payload_size_;
  int remaining_packets_ = 0;
  std::deque<NalUnit> nal_units_;
  std::deque<Descriptor> plan_;
};

}  // namespace chat_rtp
