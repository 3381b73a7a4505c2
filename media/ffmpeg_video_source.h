// Converts BGRA (or RGBA/ARGB) pictures to NV12 and encodes them as H.264
// with x264 in its lowest-latency setting; every encoded picture is pushed
// into the RtspStreamH264 created from the encoder's parameter sets. The
// encoder, the scaler and the NV12 picture are made once and reused. Init,
// GetStream and EncodeFrame are called by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "chat_base/ref_ptr.h"
#include "chat_rtsp/rtsp_stream.h"
#include "media/ffmpeg_encoded_frame.h"
#include "media/h264_skip_picture.h"

struct AVCodecContext;
struct AVFrame;
struct SwsContext;

namespace chat_rtsp {

struct VideoParams {
  int width = 0;
  int height = 0;
  int fps = 0;
  int bitrate = 0;  // bits per second
  // Upper bound of a slice in bytes, so that each fits one RTP packet and a
  // viewer can decode slices as they arrive; 0 lets the encoder cut slices
  // itself (a few large ones per picture, as sharers of older versions send).
  int slice_max_size = kSlicesFitRtpPackets;
  static constexpr int kSlicesFitRtpPackets = 1150;
};

// Byte order of the four bytes of a pixel in memory.
enum PixelLayout {
  kPixelRgba = 0,
  kPixelArgb = 1,
  kPixelBgra = 2,
};

// A picture to encode; the pixels stay the caller's.
struct VideoPicture {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes from one row to the next
  int layout = kPixelBgra;
  uint64_t time_ms = 0;  // when it was taken (NowMs); 0: when EncodeFrame starts
};

// Where EncodeFrame spends its time, summed over all frames (wall clock).
// Written by the encoding thread; read it after that thread has stopped.
struct EncodeStats {
  uint64_t frames = 0;   // pictures converted
  uint64_t repeats = 0;  // pictures repeated without a new one (EncodeRepeat)
  uint64_t skips = 0;    // of them, made without the encoder
  uint64_t packets = 0;  // encoded pictures pushed
  int64_t convert_ns = 0;
  int64_t encode_ns = 0;         // all encoding, repeats included
  int64_t repeat_encode_ns = 0;  // of it, the repeats' (made or encoded)
};

class FFmpegVideoSource {
 public:
  FFmpegVideoSource();
  FFmpegVideoSource(const FFmpegVideoSource&) = delete;
  FFmpegVideoSource& operator=(const FFmpegVideoSource&) = delete;
  ~FFmpegVideoSource();

  // Opens the encoder and creates the stream. False on failure, and always
  // once a stream exists: a source is initialised once.
  bool Init(const VideoParams& params);

  // The stream encoded pictures go to; none (logged) before Init succeeded.
  chat_base::RefPtr<RtspStreamH264> GetStream();

  // Converts the picture to the encoder's size and format, encodes it and
  // pushes the packet, if the encoder gave one. A failing frame is skipped.
  // A BGRA picture of the encoder's size takes the direct conversion; others
  // go through the scaler. Both give BT.709 limited range.
  void EncodeFrame(const VideoPicture& picture);

  // Repeats the last converted picture, stamped with time_ms (0: now), for a
  // screen that did not change, so viewers keep their pace: a picture that
  // skips every macroblock (made here, no encoding), or when a key frame is
  // due, the encoder's key frame of the last picture. False when there is no
  // picture yet.
  bool EncodeRepeat(uint64_t time_ms);

  const EncodeStats& GetEncodeStats() const { return stats_; }

 private:
  struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* frame) const;
  };
  struct ScalerDeleter {
    void operator()(SwsContext* scaler) const;
  };

  std::unique_ptr<AVCodecContext, CodecContextDeleter> encoder_;
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
  // Pushes what the encoder makes of picture_; start_ns is when the work on
  // this picture began (for the time spent encoding).
  void EncodePicture(uint64_t taken_ms, int64_t start_ns, bool repeat);
  void Push(AVPacketPtr packet, uint64_t taken_ms);
  // One key frame every fps pictures sent, made ones included.
  bool KeyFrameDue() const;

  H264SkipPictures skip_;
  std::vector<uint8_t> rewritten_;  // scratch for renumbered pictures

  std::unique_ptr<AVFrame, FrameDeleter> picture_;  // NV12, the encoder's size
  bool has_picture_ = false;                        // picture_ holds a converted picture
  AVPacketPtr packet_;
  chat_base::RefPtr<RtspStreamH264> stream_;
  int64_t next_pts_ = 0;
  EncodeStats stats_;
};

}  // namespace chat_rtsp
