#include "media/ffmpeg_video_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "chat_net/time.h"
#include "chat_rtp/h264_nal.h"
#include "chat_rtsp/rtsp_session.h"
#include "media/bgra_to_nv12.h"
#include "base/log.h"

namespace chat_rtsp {

namespace {

struct ErrorText {
  explicit ErrorText(int code) {
    if (av_strerror(code, text, sizeof(text)) < 0) snprintf(text, sizeof(text), "unknown error");
  }
  char text[1024];
};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void FFmpegVideoSource::CodecContextDeleter::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}

void FFmpegVideoSource::FrameDeleter::operator()(AVFrame* frame) const { av_frame_free(&frame); }

void FFmpegVideoSource::ScalerDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

FFmpegVideoSource::FFmpegVideoSource() = default;

FFmpegVideoSource::~FFmpegVideoSource() = default;

// Below the RTP payload limit by a margin for x264's estimate of the
// emulation-prevention bytes it adds after sizing a slice.
static_assert(kRtpMaxPayload >= VideoParams::kSlicesFitRtpPackets + 40,
              "slices must fit one RTP packet");

bool FFmpegVideoSource::Init(const VideoParams& params) {
  if (stream_) {
    LogMessage(kLogError, "Cannot reinit video source!");
    return false;
  }
  // The x264 encoder by name first: another H.264 encoder registered for the
  // same codec would not take the preset and tune options.
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!codec) {
    LogMessage(kLogError, "No H.264 encoder available.");
    return false;
  }
  std::unique_ptr<AVCodecContext, CodecContextDeleter> encoder(avcodec_alloc_context3(codec));
  if (!encoder) return false;
  encoder->bit_rate = params.bitrate;
  encoder->rc_max_rate = params.bitrate;
  encoder->width = params.width;
  encoder->height = params.height;
  encoder->time_base = AVRational{1, params.fps};
  encoder->framerate = AVRational{params.fps, 1};
  encoder->gop_size = params.fps;
  encoder->max_b_frames = 0;
  encoder->pix_fmt = AV_PIX_FMT_NV12;
  encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // The scaler writes BT.709 limited range; say so in the stream so that
  // players convert back with the same matrix.
  encoder->colorspace = AVCOL_SPC_BT709;
  encoder->color_primaries = AVCOL_PRI_BT709;
  encoder->color_trc = AVCOL_TRC_BT709;
  encoder->color_range = AVCOL_RANGE_MPEG;
  av_opt_set(encoder->priv_data, "preset", "ultrafast", 0);
  av_opt_set(encoder->priv_data, "tune", "zerolatency", 0);
  // Slices that each fit one RTP packet: no unit is split into fragments, so
  // a viewer can decode every packet as it arrives and knows a picture is
  // complete with its last slice, instead of when the next picture begins.
  if (params.slice_max_size > 0) {
    const std::string slicing = "slice-max-size=" + std::to_string(params.slice_max_size);
    av_opt_set(encoder->priv_data, "x264-params", slicing.c_str(), 0);
  }

  int error = avcodec_open2(encoder.get(), codec, nullptr);
  if (error < 0) {
    LogMessage(kLogError, "avcodec_send_frame failed! error %d [%s]", error, ErrorText(error).text);
    return false;
  }

  std::vector<uint8_t> sps, pps;
  for (const chat_rtp::NalUnit& unit :
       chat_rtp::FindNalUnits(encoder->extradata, encoder->extradata_size)) {
    if (chat_rtp::NalType(unit) == chat_rtp::kNalTypeSps) {
      sps.assign(unit.data, unit.data + unit.size);
    } else if (chat_rtp::NalType(unit) == chat_rtp::kNalTypePps) {
      pps.assign(unit.data, unit.data + unit.size);
    }
  }
  if (sps.empty() || pps.empty()) {
    LogMessage(kLogError, "The encoder gave no parameter sets.");
    return false;
  }

  std::unique_ptr<AVFrame, FrameDeleter> picture(av_frame_alloc());
  AVPacketPtr packet(av_packet_alloc());
  if (!picture || !packet) return false;
  picture->format = AV_PIX_FMT_NV12;
  picture->width = params.width;
  picture->height = params.height;
  error = av_frame_get_buffer(picture.get(), 0);
  if (error < 0) {
    LogMessage(kLogError, "av_frame_get_buffer failed! error %d [%s]", error,
               ErrorText(error).text);
    return false;
  }

  // Without skipped pictures a still screen is simply encoded again.
  skip_.Init(sps, pps);
  stream_ = chat_base::MakeRefCounted<RtspStreamH264>(std::move(sps), std::move(pps));
  encoder_ = std::move(encoder);
  picture_ = std::move(picture);
  packet_ = std::move(packet);
  return true;
}

chat_base::RefPtr<RtspStreamH264> FFmpegVideoSource::GetStream() {
  if (!stream_) {
    LogMessage(kLogError, "Uninitialized source!");
    return nullptr;
  }
  return stream_;
}

void FFmpegVideoSource::EncodeFrame(const VideoPicture& picture) {
  if (!encoder_ || !picture.data || picture.width < 1 || picture.height < 1) return;
  AVPixelFormat format;
  switch (picture.layout) {
    case kPixelRgba:
      format = AV_PIX_FMT_RGBA;
      break;
    case kPixelArgb:
      format = AV_PIX_FMT_ARGB;
      break;
    case kPixelBgra:
      format = AV_PIX_FMT_BGRA;
      break;
    default:
      return;
  }

  const uint64_t taken_ms = picture.time_ms ? picture.time_ms : chat_net::NowMs();
  int64_t start = NowNs();
  // The encoder may still hold the last picture; then this gives a new buffer.
  int error = av_frame_make_writable(picture_.get());
  if (error < 0) {
    LogMessage(kLogWarning, "av_frame_make_writable failed! error %d [%s]", error,
               ErrorText(error).text);
    return;
  }
  bool converted = false;
  if (format == AV_PIX_FMT_BGRA && picture.width == encoder_->width &&
      picture.height == encoder_->height) {
    // The screen share's case: same size, so nothing to scale.
    converted = ConvertBgraToNv12(
        picture.data, picture.stride, picture.width, picture.height,
        Nv12Planes{picture_->data[0], picture_->linesize[0], picture_->data[1],
                   picture_->linesize[1]});
  } else {
    SwsContext* previous = scaler_.get();
    scaler_.reset(sws_getCachedContext(scaler_.release(), picture.width, picture.height, format,
                                       encoder_->width, encoder_->height, AV_PIX_FMT_NV12,
                                       SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler_) {
      LogMessage(kLogWarning, "sws_getCachedContext failed for %dx%d", picture.width,
                 picture.height);
      return;
    }
    if (scaler_.get() != previous) {
      const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
      sws_setColorspaceDetails(scaler_.get(), coefficients, 0, coefficients, 0, 0, 1 << 16,
                               1 << 16);
    }
    const uint8_t* const source_planes[4] = {picture.data, nullptr, nullptr, nullptr};
    const int source_strides[4] = {picture.stride, 0, 0, 0};
    converted = sws_scale(scaler_.get(), source_planes, source_strides, 0, picture.height,
                          picture_->data, picture_->linesize) > 0;
  }
  stats_.frames++;
  stats_.convert_ns += NowNs() - start;
  if (!converted) return;
  has_picture_ = true;
  EncodePicture(taken_ms, NowNs(), false);
}

bool FFmpegVideoSource::KeyFrameDue() const {
  return encoder_->gop_size > 0 && stats_.packets % static_cast<uint64_t>(encoder_->gop_size) == 0;
}

bool FFmpegVideoSource::EncodeRepeat(uint64_t time_ms) {
  if (!encoder_ || !has_picture_) return false;
  stats_.repeats++;
  const uint64_t taken_ms = time_ms ? time_ms : chat_net::NowMs();
  const int64_t start = NowNs();
  if (!KeyFrameDue()) {
    std::vector<uint8_t> bytes = skip_.MakeSkip();
    AVPacketPtr packet(av_packet_alloc());
    if (!bytes.empty() && packet && av_new_packet(packet.get(), static_cast<int>(bytes.size())) == 0) {
      std::copy(bytes.begin(), bytes.end(), packet->data);
      Push(std::move(packet), taken_ms);
      stats_.skips++;
      const int64_t spent = NowNs() - start;
      stats_.encode_ns += spent;
      stats_.repeat_encode_ns += spent;
      return true;
    }
  }
  EncodePicture(taken_ms, start, true);
  return true;
}

void FFmpegVideoSource::EncodePicture(uint64_t taken_ms, int64_t start_ns, bool repeat) {
  picture_->pts = next_pts_++;
  // Key frames keep their pace with made pictures in between too.
  picture_->pict_type = KeyFrameDue() ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  int error = avcodec_send_frame(encoder_.get(), picture_.get());
  if (error < 0) {
    LogMessage(kLogWarning, "avcodec_send_frame failed! error %d [%s]", error,
               ErrorText(error).text);
    return;
  }
  error = avcodec_receive_packet(encoder_.get(), packet_.get());
  if (error == AVERROR(EAGAIN)) {
    stats_.encode_ns += NowNs() - start_ns;
    return;
  }
  if (error < 0) {
    LogMessage(kLogWarning, "avcodec_receive_packet failed! error %d [%s]", error,
               ErrorText(error).text);
    return;
  }
  // The packet's buffer is reference-counted: the move hands it over without
  // copying the picture. After made pictures its frame numbers move on, in
  // a copy.
  AVPacketPtr encoded(av_packet_alloc());
  if (encoded && skip_.TakeEncoded(packet_->data, static_cast<size_t>(packet_->size), &rewritten_)) {
    if (av_new_packet(encoded.get(), static_cast<int>(rewritten_.size())) == 0) {
      std::copy(rewritten_.begin(), rewritten_.end(), encoded->data);
      encoded->flags = packet_->flags;
    } else {
      encoded.reset();
    }
  } else if (encoded) {
    av_packet_move_ref(encoded.get(), packet_.get());
  }
  av_packet_unref(packet_.get());
  const int64_t spent = NowNs() - start_ns;
  stats_.encode_ns += spent;
  if (repeat) stats_.repeat_encode_ns += spent;
  if (encoded) Push(std::move(encoded), taken_ms);
}

void FFmpegVideoSource::Push(AVPacketPtr packet, uint64_t taken_ms) {
  auto frame = chat_base::MakeRefCounted<FFmpegEncodedFrame>(std::move(packet));
  // Zero-latency encoding: this packet is the picture just sent in.
  frame->SetTimeMs(taken_ms);
  stream_->PushFrame(std::move(frame));
  stats_.packets++;
}

}  // namespace chat_rtsp
