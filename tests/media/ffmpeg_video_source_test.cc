#include "media/ffmpeg_video_source.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/log.h"
#include "media/h264_decoder.h"
#include "support/log_capture.h"

// libx264 keeps a few option strings when opening the encoder fails (the
// odd-size case below); that is the library's, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\n"; }

namespace chat_rtsp {
namespace {

using qnchat_test::LogCapture;

VideoParams Params(int width, int height) { return VideoParams{width, height, 25, 4000000}; }

// A BGRA picture: left half white, right half black, a moving grey bar.
std::vector<uint8_t> MakePicture(int width, int height, int stride, int frame) {
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[y * stride + x * 4];
      uint8_t v = x < width / 2 ? 255 : 0;
      if (x / 16 == frame % (width / 16)) v = 128;
      p[0] = p[1] = p[2] = v;
      p[3] = 0;
    }
  }
  return pixels;
}

TEST(FFmpegVideoSourceTest, EncodesH264ThatDecodesAtTheEncoderSize) {
  FFmpegVideoSource source;
  ASSERT_TRUE(source.Init(Params(1360, 768)));
  chat_base::RefPtr<RtspStreamH264> stream = source.GetStream();
  ASSERT_TRUE(stream);
  ASSERT_FALSE(stream->GetSps().empty());
  EXPECT_EQ(stream->GetSps()[0] & 0x1F, 7);
  EXPECT_EQ(stream->GetPps()[0] & 0x1F, 8);

  // Stride wider than the row, as a capture of a larger screen would have.
  const int stride = 1366 * 4;
  const int kFrames = 30;
  for (int i = 0; i < kFrames; ++i) {
    std::vector<uint8_t> pixels = MakePicture(1360, 768, stride, i);
    source.EncodeFrame(VideoPicture{pixels.data(), 1360, 768, stride, kPixelBgra});
  }
  // Zero latency: one packet out per picture in.
  EXPECT_EQ(source.GetEncodeStats().frames, static_cast<uint64_t>(kFrames));
  EXPECT_EQ(source.GetEncodeStats().packets, static_cast<uint64_t>(kFrames));

  // The queue keeps the newest ten; the first of them after a key frame every
  // 25 pictures is number 25, a key frame.
  chat_base::RefPtr<EncodedFrame> key = stream->GetFrame(25);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->GetFrameNumber(), 25u);
  EXPECT_TRUE(key->IsKeyFrame());
  EXPECT_FALSE(stream->GetFrame(26)->IsKeyFrame());
  const uint8_t kStartCode[] = {0, 0, 0, 1};
  ASSERT_GT(key->GetSize(), 4);
  EXPECT_TRUE(std::equal(kStartCode, kStartCode + 4, key->GetData()) ||
              std::equal(kStartCode + 1, kStartCode + 4, key->GetData()));

  std::vector<media_test::DecodedPicture> pictures = media_test::DecodeStream(stream.get(), 25);
  ASSERT_EQ(pictures.size(), 5u);
  const media_test::DecodedPicture& last = pictures.back();
  EXPECT_EQ(last.width, 1360);
  EXPECT_EQ(last.height, 768);
  // Limited range: white near 235, black near 16.
  EXPECT_NEAR(last.luma[400 * 1360 + 100], 235, 8);
  EXPECT_NEAR(last.luma[400 * 1360 + 1300], 16, 8);
}

TEST(FFmpegVideoSourceTest, ScalesPicturesOfAnotherSizeAndLayout) {
  FFmpegVideoSource source;
  ASSERT_TRUE(source.Init(Params(640, 360)));
  // RGBA and ARGB of a different size reach the encoder scaled; an unknown
  // layout is skipped.
  std::vector<uint8_t> pixels = MakePicture(1280, 720, 1280 * 4, 0);
  source.EncodeFrame(VideoPicture{pixels.data(), 1280, 720, 1280 * 4, kPixelRgba});
  source.EncodeFrame(VideoPicture{pixels.data(), 1280, 720, 1280 * 4, kPixelArgb});
  source.EncodeFrame(VideoPicture{pixels.data(), 1280, 720, 1280 * 4, 7});
  source.EncodeFrame(VideoPicture{nullptr, 1280, 720, 1280 * 4, kPixelBgra});
  EXPECT_EQ(source.GetEncodeStats().packets, 2u);
  // The picture's own time travels with its packet; without one, the time of
  // encoding.
  VideoPicture timed{pixels.data(), 1280, 720, 1280 * 4, kPixelRgba};
  timed.time_ms = 12345;
  source.EncodeFrame(timed);
  ASSERT_TRUE(source.GetStream()->GetFrame(2));
  EXPECT_EQ(source.GetStream()->GetFrame(2)->GetTimeMs(), 12345u);
  EXPECT_GT(source.GetStream()->GetFrame(0)->GetTimeMs(), 12345u);
  std::vector<media_test::DecodedPicture> pictures =
      media_test::DecodeStream(source.GetStream().get());
  ASSERT_EQ(pictures.size(), 3u);
  EXPECT_EQ(pictures[0].width, 640);
  EXPECT_EQ(pictures[0].height, 360);
}

TEST(FFmpegVideoSourceTest, InitializesOnceAndHasNoStreamBefore) {
  LogCapture log;
  FFmpegVideoSource source;
  EXPECT_FALSE(source.GetStream());
  EXPECT_TRUE(log.Has("Uninitialized source!"));
  // Nothing to encode into yet: no crash, nothing counted.
  std::vector<uint8_t> pixels = MakePicture(64, 64, 256, 0);
  source.EncodeFrame(VideoPicture{pixels.data(), 64, 64, 256, kPixelBgra});
  EXPECT_EQ(source.GetEncodeStats().frames, 0u);

  ASSERT_TRUE(source.Init(Params(64, 64)));
  RtspStreamH264* first = source.GetStream().get();
  EXPECT_FALSE(source.Init(Params(64, 64)));
  EXPECT_TRUE(log.Has("Cannot reinit video source!"));
  EXPECT_EQ(source.GetStream().get(), first);
}

TEST(FFmpegVideoSourceTest, OddSizeFailsToOpenWithTheEncodersText) {
  LogCapture log;
  FFmpegVideoSource source;
  // x264 refuses odd heights in 4:2:0; the failure is reported, not hidden.
  EXPECT_FALSE(source.Init(Params(64, 63)));
  EXPECT_FALSE(source.GetStream());
  // The encoder's own error code and text follow the prefix.
  EXPECT_TRUE(log.HasPrefix("avcodec_send_frame failed! error -"));
}

}  // namespace
}  // namespace chat_rtsp
