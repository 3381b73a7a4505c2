// Decodes what the video source produced with libavcodec's own H.264
// decoder, as an independent judge of the stream.
#pragma once

#include <cstdint>
#include <vector>

#include "chat_rtsp/rtsp_stream.h"

namespace media_test {

struct DecodedPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> luma;  // width x height, tightly packed
};

// Decodes the frames of the stream from the first key frame numbered at
// least `first` on, the parameter sets first; the pictures the decoder produced, in order.
std::vector<DecodedPicture> DecodeStream(chat_rtsp::RtspStreamH264* stream, uint64_t first = 0);

}  // namespace media_test
