// An encoded picture as the H.264 encoder produced it (Annex B, start codes
// included), holding its own reference to the encoder's packet so the bytes
// are not copied. Created on the encoder's thread, read and released on the
// RTSP server's thread.
#pragma once

#include <memory>

#include "chat_rtsp/encoded_frame.h"

struct AVPacket;

namespace chat_rtsp {

struct AVPacketDeleter {
  void operator()(AVPacket* packet) const;
};
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketDeleter>;

class FFmpegEncodedFrame : public EncodedFrame {
 public:
  // Takes the packet (none gives an empty frame).
  explicit FFmpegEncodedFrame(AVPacketPtr packet);
  ~FFmpegEncodedFrame() override;

  const uint8_t* GetData() const override;
  int GetSize() const override;
  bool IsKeyFrame() const override;

 private:
  const AVPacketPtr packet_;
};

}  // namespace chat_rtsp
