// A still screen's made pictures inside the encoder's stream: FFmpeg's
// decoder, told to stop at the first fault, must take every picture in turn
// and show the screen as it was, also after the encoder's pictures that
// follow have been renumbered, across key frames and frame number wrap.
#include "media/h264_skip_picture.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdlib>
#include <memory>
#include <vector>

#include "media/ffmpeg_video_source.h"

namespace chat_rtsp {
namespace {

constexpr int kWidth = 640, kHeight = 368;

int GreyOf(int level) { return 20 + level * 20 % 200; }

// A grey for `level`, with a block of white at a place that moves with it.
std::vector<uint8_t> Picture(int level) {
  std::vector<uint8_t> pixels(kWidth * kHeight * 4);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const bool block = x / 64 == level % 10 && y < 64;
      uint8_t* p = &pixels[(y * kWidth + x) * 4];
      p[0] = p[1] = p[2] = block ? 255 : static_cast<uint8_t>(GreyOf(level));
      p[3] = 0;
    }
  return pixels;
}

class StrictDecoder {
 public:
  StrictDecoder(const RtspStreamH264& stream) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    context_ = avcodec_alloc_context3(codec);
    context_->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_CRCCHECK;
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    ok_ = avcodec_open2(context_, codec, nullptr) == 0;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    for (const std::vector<uint8_t>* set : {&stream.GetSps(), &stream.GetPps()}) {
      headers_.insert(headers_.end(), {0, 0, 0, 1});
      headers_.insert(headers_.end(), set->begin(), set->end());
    }
  }
  ~StrictDecoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }
  // Decodes one packet; the luma of the picture it gave, or empty.
  std::vector<uint8_t> Decode(const EncodedFrame& encoded) {
    std::vector<uint8_t> bytes = headers_;
    headers_.clear();
    bytes.insert(bytes.end(), encoded.GetData(), encoded.GetData() + encoded.GetSize());
    packet_->data = bytes.data();
    packet_->size = static_cast<int>(bytes.size());
    std::vector<uint8_t> luma;
    if (!ok_ || avcodec_send_packet(context_, packet_) < 0) return luma;
    if (avcodec_receive_frame(context_, frame_) != 0) return luma;
    if (frame_->decode_error_flags) return luma;
    for (int y = 0; y < frame_->height; ++y)
      luma.insert(luma.end(), frame_->data[0] + y * frame_->linesize[0],
                  frame_->data[0] + y * frame_->linesize[0] + frame_->width);
    return luma;
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::vector<uint8_t> headers_;
  bool ok_ = false;
};

TEST(H264SkipPicturesTest, MadePicturesAndRenumberedOnesDecodeInTurnToTheScreen) {
  FFmpegVideoSource source;
  ASSERT_TRUE(source.Init(VideoParams{kWidth, kHeight, 25, 4000000}));
  const chat_base::RefPtr<RtspStreamH264> stream = source.GetStream();
  StrictDecoder decoder(*stream);
  // Runs of new pictures and of repeats, long enough to pass key frames and
  // the frame number's wrap (x264 uses 4 bits here: 16).
  const int kRuns[][2] = {{1, 3}, {2, 30}, {1, 1}, {5, 17}, {1, 40}, {3, 0}, {1, 26}};
  int level = 0, sent = 0, keys = 0;
  for (const auto& run : kRuns) {
    for (int i = 0; i < run[0] + run[1]; ++i) {
      if (i < run[0]) {
        ++level;
        const std::vector<uint8_t> pixels = Picture(level);
        source.EncodeFrame(VideoPicture{pixels.data(), kWidth, kHeight, kWidth * 4, kPixelBgra});
      } else {
        ASSERT_TRUE(source.EncodeRepeat(0));
      }
      ASSERT_EQ(source.GetEncodeStats().packets, static_cast<uint64_t>(++sent));
      const chat_base::RefPtr<EncodedFrame> encoded = stream->GetFrame(sent - 1);
      ASSERT_TRUE(encoded);
      // A key frame exactly every 25 pictures, made ones counted.
      EXPECT_EQ(encoded->IsKeyFrame(), (sent - 1) % 25 == 0) << "picture " << sent - 1;
      keys += encoded->IsKeyFrame();
      const std::vector<uint8_t> luma = decoder.Decode(*encoded);
      ASSERT_EQ(luma.size(), static_cast<size_t>(kWidth * kHeight)) << "picture " << sent - 1;
      // The background's grey and the block where they are on the screen.
      const int grey = 16 + GreyOf(level) * 219 / 255;
      EXPECT_NEAR(luma[200 * kWidth + 600 - (level % 10 == 9 ? 64 : 0)], grey, 6)
          << "picture " << sent - 1;
      EXPECT_NEAR(luma[32 * kWidth + (level % 10) * 64 + 32], 235, 6) << "picture " << sent - 1;
    }
  }
  EXPECT_GT(source.GetEncodeStats().skips, 100u);
  EXPECT_EQ(keys, (sent + 24) / 25);
}

TEST(H264SkipPicturesTest, RefusesStreamsItCannotExtend) {
  H264SkipPictures skip;
  EXPECT_TRUE(skip.MakeSkip().empty());
  // CABAC (main profile with the entropy flag set) and garbage.
  const std::vector<uint8_t> sps = {0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x02, 0x80, 0xBF, 0xE5, 0x84};
  EXPECT_FALSE(skip.Init(sps, {0x68, 0xEF}));
  EXPECT_FALSE(skip.Init({0x67}, {0x68}));
  EXPECT_FALSE(skip.IsReady());
  EXPECT_TRUE(skip.MakeSkip().empty());
}

}  // namespace
}  // namespace chat_rtsp
