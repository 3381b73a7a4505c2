// Pictures for a screen that did not change, made without the encoder: a P
// picture whose every macroblock is skipped, so the decoder repeats its
// reference exactly. Re-encoding the unchanged picture instead costs x264 as
// much as a new one, because its rate control keeps spending the bit rate on
// refining the same pixels.
//
// The made pictures are reference pictures, so the encoder's pictures that
// follow (until its next key frame) get their frame numbers moved on by as
// many; they still predict from the same pixels, since a skipped picture is
// an exact copy of the one before. Works for the streams the screen source
// makes (CAVLC, picture order from frame numbers, one slice group); Init
// refuses others and the caller then re-encodes instead. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chat_rtsp {

class H264SkipPictures {
 public:
  // The stream's parameter sets (NAL units without start code). False for
  // features the made pictures do not cover.
  bool Init(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps);
  bool IsReady() const { return ready_; }

  // Takes one picture of the encoder (Annex B). When pictures were made since
  // its last key frame, writes it to out with the frame numbers moved on and
  // returns true; otherwise leaves out alone and returns false (send the
  // encoder's bytes as they are). A picture it cannot read is passed as is.
  bool TakeEncoded(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

  // A skipped picture following the last one taken or made (Annex B). Empty
  // before the first key frame was taken.
  std::vector<uint8_t> MakeSkip();

 private:
  bool ready_ = false;
  int log2_max_frame_num_ = 4;
  int mb_count_ = 0;
  bool deblocking_control_ = false;
  bool have_key_ = false;
  uint32_t last_frame_num_ = 0;  // of the last picture sent
  uint32_t shift_ = 0;           // pictures made since the encoder's last key frame
};

}  // namespace chat_rtsp
