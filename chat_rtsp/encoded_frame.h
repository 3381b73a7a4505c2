// One encoded picture (an H.264 access unit in Annex B form, start codes
// included) handed from the encoder's thread to the RTSP server's thread.
// Shared by reference count: a frame dropped from a stream's queue stays valid
// while a session is still sending it. Immutable once pushed, except for the
// frame number, which only RtspStreamH264::PushFrame writes (before queueing).
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

 private:
  uint64_t frame_number_ = 0;
};

}  // namespace chat_rtsp
