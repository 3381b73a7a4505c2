// Cuts one encoded picture into RTP payloads. A packetizer is made per
// picture, used on one thread, and never copies the picture: the picture's
// bytes must outlive it.
#pragma once

#include "chat_rtp/rtp_packet.h"

namespace chat_rtp {

class RtpPacketizer {
 public:
  virtual ~RtpPacketizer() = default;

  // Packets not yet taken.
  virtual int RemainingPackets() const = 0;
  // Fills the payload and the marker of the next packet (the caller has Reset
  // it and sets payload type, sequence, timestamp and SSRC); false when none
  // is left.
  virtual bool NextPacket(RtpPacket* packet) = 0;
};

}  // namespace chat_rtp
