#include "media/h264_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>

namespace media_test {

namespace {

void Append(std::vector<uint8_t>* out, const std::vector<uint8_t>& unit) {
  static const uint8_t kStartCode[] = {0, 0, 0, 1};
  out->insert(out->end(), kStartCode, kStartCode + 4);
  out->insert(out->end(), unit.begin(), unit.end());
}

}  // namespace

std::vector<DecodedPicture> DecodeStream(chat_rtsp::RtspStreamH264* stream, uint64_t first) {
  std::vector<DecodedPicture> pictures;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* f) { av_frame_free(&f); });
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  if (!decoder || avcodec_open2(decoder.get(), codec, nullptr) < 0) return pictures;

  auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      DecodedPicture picture;
      picture.width = frame->width;
      picture.height = frame->height;
      for (int y = 0; y < frame->height; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        picture.luma.insert(picture.luma.end(), row, row + frame->width);
      }
      pictures.push_back(std::move(picture));
    }
  };
  bool first_packet = true;
  uint64_t next = first;
  while (chat_base::RefPtr<chat_rtsp::EncodedFrame> encoded = stream->GetFrame(next)) {
    next = encoded->GetFrameNumber() + 1;
    if (first_packet && !encoded->IsKeyFrame()) continue;  // nothing to refer to yet
    std::vector<uint8_t> bytes;
    if (first_packet) {
      Append(&bytes, stream->GetSps());
      Append(&bytes, stream->GetPps());
      first_packet = false;
    }
    bytes.insert(bytes.end(), encoded->GetData(), encoded->GetData() + encoded->GetSize());
    packet->data = bytes.data();
    packet->size = static_cast<int>(bytes.size());
    if (avcodec_send_packet(decoder.get(), packet.get()) < 0) break;
    drain();
  }
  avcodec_send_packet(decoder.get(), nullptr);
  drain();
  return pictures;
}

}  // namespace media_test
