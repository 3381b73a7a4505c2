// One encoded picture (an H.264 access unit in Annex B form, start codes
// included) handed from the encoder's thread to the RTSP server's thread.
// Shared by reference count: a frame dropped from a stream's queue stays valid
// while a session is still sending it. Immutable once pushed, except for the
// frame number (and a missing time), which only RtspStreamH264::PushFrame
// writes (before queueing).
#pragma once

#include <cstdint>

#include "chat_base/count_object.h"

namespace chat_rtsp {

class EncodedFrame : public chat_base::CountObject {
 public:
  EncodedFrame() = default;

  // The encoded bytes; valid for the frame's whole life.
  virtual const uint8_t* GetData() const = 0;
  virtual int GetSize() const = 0;
  virtual bool IsKeyFrame() const = 0;

  // Assigned by the stream the frame is pushed into; 0 until then.
  uint64_t GetFrameNumber() const { return frame_number_; }
  void SetFrameNumber(uint64_t number) { frame_number_ = number; }

  // When the picture was taken (NowMs); PushFrame puts in its own time when
  // the producer left it 0. RTP timestamps follow it, so pictures that leave
  // in a burst keep their own spacing.
  uint64_t GetTimeMs() const { return time_ms_; }
  void SetTimeMs(uint64_t ms) { time_ms_ = ms; }

 private:
  uint64_t frame_number_ = 0;
  uint64_t time_ms_ = 0;
};

}  // namespace chat_rtsp
