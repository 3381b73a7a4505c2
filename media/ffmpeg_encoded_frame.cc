#include "media/ffmpeg_encoded_frame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace chat_rtsp {

void AVPacketDeleter::operator()(AVPacket* packet) const { av_packet_free(&packet); }

FFmpegEncodedFrame::FFmpegEncodedFrame(AVPacketPtr packet) : packet_(std::move(packet)) {}

FFmpegEncodedFrame::~FFmpegEncodedFrame() = default;

const uint8_t* FFmpegEncodedFrame::GetData() const { return packet_ ? packet_->data : nullptr; }

int FFmpegEncodedFrame::GetSize() const { return packet_ ? packet_->size : 0; }

bool FFmpegEncodedFrame::IsKeyFrame() const {
  return packet_ && (packet_->flags & AV_PKT_FLAG_KEY) != 0;
}

}  // namespace chat_rtsp
