#include "media/chat_media_stream_player.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/log.h"

namespace chat {

namespace {

// Longer URLs are refused: the core builds "rtsp://<IPv4>:<port>/play/<32 hex>".
constexpr size_t kMaxUrlLength = 512;
// Pause after a failed read, so a stream that ended does not spin a core.
constexpr int kReadRetryMs = 20;

struct ErrorText {
  explicit ErrorText(int code) {
    if (av_strerror(code, text, sizeof(text)) < 0) snprintf(text, sizeof(text), "error %d", code);
  }
  char text[256];
};

struct DictionaryDeleter {
  void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

// Every option FFmpeg left in the dictionary is one it did not take.
void LogUnusedOptions(const char* what, AVDictionary* options) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX)))
    LogMessage(kLogWarning, "player: %s ignored option %s=%s", what, entry->key, entry->value);
}

bool IsPathChar(unsigned char c) {
  return std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// A picture of the decoder (or of the scaler), holding its own reference to
// the pixel buffers.
class FFmpegVideoFrame : public ChatVideoFrame {
 public:
  explicit FFmpegVideoFrame(AVFrame* frame) : frame_(frame) {}
  ~FFmpegVideoFrame() override { av_frame_free(&frame_); }

  int GetWidth() const override { return frame_->width; }
  int GetHeight() const override { return frame_->height; }
  const uint8_t* GetData(int plane) const override {
    return plane >= 0 && plane < 3 ? frame_->data[plane] : nullptr;
  }
  int GetStride(int plane) const override {
    return plane >= 0 && plane < 3 ? frame_->linesize[plane] : 0;
  }
  int GetFormat() const override {
    return frame_->format == AV_PIX_FMT_YUV420P ? kFormatI420 : kFormatOther;
  }

 private:
  AVFrame* frame_;
};

// BT.709 on both sides; the source keeps its own range (a full-range picture
// is mapped into limited range), the output is limited range, same size.
SwsContext* CreateScaler(const ScalerKey& key) {
  SwsContext* scaler = sws_alloc_context();
  if (!scaler) return nullptr;
  av_opt_set_int(scaler, "srcw", key.width, 0);
  av_opt_set_int(scaler, "srch", key.height, 0);
  av_opt_set_int(scaler, "src_format", key.format, 0);
  av_opt_set_int(scaler, "dstw", key.width, 0);
  av_opt_set_int(scaler, "dsth", key.height, 0);
  av_opt_set_int(scaler, "dst_format", AV_PIX_FMT_YUV420P, 0);
  av_opt_set_int(scaler, "sws_flags", SWS_FAST_BILINEAR, 0);
  av_opt_set_int(scaler, "src_range", key.full_range ? 1 : 0, 0);
  av_opt_set_int(scaler, "dst_range", 0, 0);
  if (sws_init_context(scaler, nullptr, nullptr) < 0) {
    sws_freeContext(scaler);
    return nullptr;
  }
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(scaler, coefficients, key.full_range ? 1 : 0, coefficients, 0, 0,
                           1 << 16, 1 << 16);
  return scaler;
}

}  // namespace

std::string ShareUrlHost(const std::string& url) {
  static const char kScheme[] = "rtsp://";
  const size_t scheme_length = sizeof(kScheme) - 1;
  if (url.size() > kMaxUrlLength || url.compare(0, scheme_length, kScheme) != 0) return "";
  const size_t path = url.find('/', scheme_length);
  if (path == std::string::npos) return "";
  for (size_t i = path; i < url.size(); ++i) {
    if (!IsPathChar(static_cast<unsigned char>(url[i]))) return "";
  }
  const std::string authority = url.substr(scheme_length, path - scheme_length);
  std::string host;
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return "";
    host = authority.substr(1, close - 1);
    // Brackets hold an IPv6 address only: "[198.18.0.2]" is not the host's form.
    if (host.find(':') == std::string::npos) return "";
    for (char c : host) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return "";
    }
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return "";
      port = authority.substr(close + 2);
      if (port.empty()) return "";
    }
  } else {
    const size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    for (char c : host) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return "";
    }
    if (colon != std::string::npos) {
      port = authority.substr(colon + 1);
      if (port.empty()) return "";
    }
  }
  if (host.empty() || port.size() > 5) return "";
  for (char c : port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return "";
  }
  if (!port.empty()) {
    const long number = std::stol(port);
    if (number < 1 || number > 65535) return "";
  }
  return host;
}

bool IsAcceptableShareUrl(const std::string& url, const std::string& expected_host) {
  if (expected_host.empty()) return false;
  const std::string host = ShareUrlHost(url);
  return !host.empty() && EqualsIgnoringCase(host, expected_host);
}

void ChatMediaStreamPlayer::FormatContextDeleter::operator()(AVFormatContext* context) const {
  avformat_close_input(&context);
}

void ChatMediaStreamPlayer::CodecContextDeleter::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}

void ChatMediaStreamPlayer::ScalerDeleter::operator()(SwsContext* scaler) const {
  sws_freeContext(scaler);
}

void ChatMediaStreamPlayer::FrameDeleter::operator()(AVFrame* frame) const {
  av_frame_free(&frame);
}

void ChatMediaStreamPlayer::PacketDeleter::operator()(AVPacket* packet) const {
  av_packet_free(&packet);
}

ChatMediaStreamPlayer::ChatMediaStreamPlayer(std::string url, ChatMediaStreamObserver* observer,
                                             int format)
    : url_(std::move(url)), observer_(observer), format_(format) {}

ChatMediaStreamPlayer::~ChatMediaStreamPlayer() { Stop(); }

void ChatMediaStreamPlayer::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  chat_base::Thread::Stop();
}

void ChatMediaStreamPlayer::SetProtocolWhitelistForTest(std::string whitelist,
                                                        std::string format_name) {
  whitelist_ = std::move(whitelist);
  format_name_ = std::move(format_name);
}

int ChatMediaStreamPlayer::InterruptCallback(void* opaque) {
  return static_cast<ChatMediaStreamPlayer*>(opaque)->stop_.load() ? 1 : 0;
}

bool ChatMediaStreamPlayer::WaitForStop(int ms) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void ChatMediaStreamPlayer::Run() {
  const int stream_index = Open();
  if (stream_index < 0) {
    decoder_.reset();
    input_.reset();
  }
  if (observer_) observer_->OnOpen(stream_index >= 0);
  if (stream_index < 0) return;
  DecodeLoop(stream_index);
  decoder_.reset();
  input_.reset();
  scaler_.reset();
}

int ChatMediaStreamPlayer::Open() {
  const AVInputFormat* input_format = av_find_input_format(format_name_.c_str());
  if (!input_format) {
    LogMessage(kLogError, "player: no %s demuxer", format_name_.c_str());
    return -1;
  }
  AVFormatContext* context = avformat_alloc_context();
  if (!context) return -1;
  // Lets Stop cut a connect or a read short instead of waiting out the time-out.
  context->interrupt_callback.callback = &ChatMediaStreamPlayer::InterruptCallback;
  context->interrupt_callback.opaque = this;

  AVDictionary* raw = nullptr;
  av_dict_set(&raw, "protocol_whitelist", whitelist_.c_str(), 0);
  if (format_name_ == "rtsp") {
    av_dict_set(&raw, "rtsp_transport", "tcp", 0);  // the sharer offers interleaved RTP only
    av_dict_set(&raw, "timeout", kSocketTimeoutUs, 0);
  }
  // No reordering queue for RTP, and a stream description read from the
  // first packets instead of seconds of probing.
  const LatencyOptions& latency = latency_options_;
  std::string fflags;
  if (latency.demuxer_no_buffer) fflags += "+nobuffer";
  if (latency.slices_as_they_come) fflags += "+noparse";
  if (!fflags.empty()) av_dict_set(&raw, "fflags", fflags.c_str(), 0);
  if (latency.demuxer_no_reorder) av_dict_set(&raw, "max_delay", "0", 0);
  if (latency.small_probe) {
    av_dict_set(&raw, "probesize", "32768", 0);
    av_dict_set(&raw, "analyzeduration", "0", 0);
  }
  int error = avformat_open_input(&context, url_.c_str(), input_format, &raw);
  std::unique_ptr<AVDictionary, DictionaryDeleter> options(raw);
  if (error < 0) {
    // avformat_open_input freed the context.
    if (!stop_) LogMessage(kLogError, "player: cannot open %s: %s", url_.c_str(), ErrorText(error).text);
    return -1;
  }
  input_.reset(context);
  LogUnusedOptions("demuxer", options.get());
  options.reset();

  error = avformat_find_stream_info(input_.get(), nullptr);
  if (error < 0) {
    LogMessage(kLogError, "player: no stream information in %s: %s", url_.c_str(),
               ErrorText(error).text);
    return -1;
  }
  if (input_->nb_streams == 0) {
    LogMessage(kLogError, "player: %s has no streams", url_.c_str());
    return -1;
  }
  int index = -1;
  for (unsigned i = 0; i < input_->nb_streams; ++i) {
    if (input_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      index = static_cast<int>(i);
      break;
    }
  }
  if (index < 0) {
    LogMessage(kLogError, "player: %s has no video stream", url_.c_str());
    return -1;
  }
  const AVCodecParameters* parameters = input_->streams[index]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
  if (!codec) {
    LogMessage(kLogError, "player: no decoder for codec %d", static_cast<int>(parameters->codec_id));
    return -1;
  }
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) return -1;
  error = avcodec_parameters_to_context(decoder_.get(), parameters);
  if (error < 0) {
    LogMessage(kLogError, "player: decoder parameters: %s", ErrorText(error).text);
    return -1;
  }
  raw = nullptr;
  const int threads = latency_options_.decoder_threads;
  av_dict_set(&raw, "threads", threads > 0 ? std::to_string(threads).c_str() : "auto", 0);
  if (!latency_options_.decoder_frame_threads) av_dict_set(&raw, "thread_type", "slice", 0);
  if (latency_options_.decoder_low_delay) av_dict_set(&raw, "flags", "low_delay", 0);
  if (latency_options_.slices_as_they_come) av_dict_set(&raw, "flags2", "chunks", 0);
  error = avcodec_open2(decoder_.get(), codec, &raw);
  options.reset(raw);
  if (error < 0) {
    LogMessage(kLogError, "player: cannot open decoder: %s", ErrorText(error).text);
    return -1;
  }
  LogUnusedOptions("decoder", options.get());
  return index;
}

void ChatMediaStreamPlayer::DecodeLoop(int stream_index) {
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!packet) return;
  take_slices_ = latency_options_.slices_as_they_come && decoder_->codec_id == AV_CODEC_ID_H264;
  joining_units_ = false;
  skipping_to_key_frame_ = false;
  held_unit_.clear();
  int last_read_error = 0;
  while (!stop_) {
    int error = av_read_frame(input_.get(), packet.get());
    if (error < 0) {
      // A time-out, the end of the stream or a broken connection: keep trying
      // until Stop, but log a new kind of failure once.
      if (stop_) break;
      if (error != last_read_error && error != AVERROR(EAGAIN)) {
        LogMessage(kLogWarning, "player: read failed: %s", ErrorText(error).text);
        last_read_error = error;
      }
      if (WaitForStop(kReadRetryMs)) break;
      continue;
    }
    last_read_error = 0;
    if (packet->stream_index == stream_index) {
      if (take_slices_) {
        TakeVideoPacket(packet.get());
      } else {
        Decode(packet.get());
      }
    }
    av_packet_unref(packet.get());
  }
}

// With the demuxer's parser off, FFmpeg's RTP layer hands H.264 out one RTP
// packet at a time: whole units, each behind a start code, or the pieces of
// a unit too large for one packet, of which only the first carries a start
// code (emulation prevention keeps a start code out of any later piece). Our
// sharers cut slices to fit a packet, so every packet is decoded as it
// comes. A sharer that splits units (one that lets the encoder fill a
// picture with few large slices) switches the player to joining them: a
// unit is complete when the next one begins, a picture later, as with the
// parser. The first piece already went to the decoder alone, so the decoder
// starts over at the first slice of the next key frame.
void ChatMediaStreamPlayer::TakeVideoPacket(AVPacket* packet) {
  const uint8_t* data = packet->data;
  const size_t size = packet->size > 0 ? static_cast<size_t>(packet->size) : 0;
  const bool starts_unit = size >= 3 && data[0] == 0 && data[1] == 0 &&
                           (data[2] == 1 || (size >= 4 && data[2] == 0 && data[3] == 1));
  if (!joining_units_) {
    if (starts_unit) {
      Decode(packet);
      return;
    }
    LogMessage(kLogInfo, "player: the sharer splits slices across packets; joining them");
    joining_units_ = true;
    skipping_to_key_frame_ = true;
    avcodec_flush_buffers(decoder_.get());
    return;  // the rest of a unit whose start is gone
  }
  if (!starts_unit) {
    if (!held_unit_.empty()) held_unit_.insert(held_unit_.end(), data, data + size);
    return;
  }
  if (skipping_to_key_frame_ && !held_unit_.empty()) {
    // An IDR slice (type 5) whose first_mb_in_slice is 0: its ue(v) code,
    // the first bit after the unit header, is a single 1.
    const size_t header = held_unit_[2] == 1 ? 3 : 4;
    const bool key_frame_begins = held_unit_.size() > header + 1 &&
                                  (held_unit_[header] & 0x1F) == 5 &&
                                  (held_unit_[header + 1] & 0x80) != 0;
    if (key_frame_begins) {
      skipping_to_key_frame_ = false;
    } else {
      held_unit_.clear();
    }
  }
  if (!held_unit_.empty()) {
    std::unique_ptr<AVPacket, PacketDeleter> unit(av_packet_alloc());
    if (unit && av_new_packet(unit.get(), static_cast<int>(held_unit_.size())) == 0) {
      memcpy(unit->data, held_unit_.data(), held_unit_.size());
      Decode(unit.get());
    }
  }
  held_unit_.assign(data, data + size);
}

void ChatMediaStreamPlayer::Decode(AVPacket* packet) {
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  if (!frame) return;
  int error;
  for (;;) {
    error = avcodec_send_packet(decoder_.get(), packet);
    if (error != AVERROR(EAGAIN)) break;
    // The decoder's output is full: take one picture out, then send again.
    error = avcodec_receive_frame(decoder_.get(), frame.get());
    if (error < 0) break;
    Deliver(frame.get());
    av_frame_unref(frame.get());
  }
  if (error < 0 && error != AVERROR(EAGAIN))
    LogMessage(kLogDebug, "player: decode failed: %s", ErrorText(error).text);
  while (avcodec_receive_frame(decoder_.get(), frame.get()) >= 0) {
    Deliver(frame.get());
    av_frame_unref(frame.get());
  }
}

void ChatMediaStreamPlayer::Deliver(AVFrame* frame) {
  if (!observer_ || format_ != ChatVideoFrame::kFormatI420) return;
  if (frame->format == AV_PIX_FMT_YUV420P) {
    AVFrame* copy = av_frame_clone(frame);
    if (copy) observer_->OnFrame(std::make_unique<FFmpegVideoFrame>(copy));
    return;
  }
  std::unique_ptr<AVFrame, FrameDeleter> converted(av_frame_alloc());
  if (!converted) return;
  converted->format = AV_PIX_FMT_YUV420P;
  converted->width = frame->width;
  converted->height = frame->height;
  int error = av_frame_get_buffer(converted.get(), 0);
  if (error < 0) {
    LogMessage(kLogError, "player: frame buffer: %s", ErrorText(error).text);
    return;
  }
  // The full-range ("J") formats are their limited-range twins with another
  // range: the scaler wants the twin and the range apart, and a J format
  // would make it build a new context for every picture.
  AVPixelFormat source = static_cast<AVPixelFormat>(frame->format);
  bool full_range = frame->color_range == AVCOL_RANGE_JPEG;
  switch (source) {
    case AV_PIX_FMT_YUVJ420P: source = AV_PIX_FMT_YUV420P; full_range = true; break;
    case AV_PIX_FMT_YUVJ422P: source = AV_PIX_FMT_YUV422P; full_range = true; break;
    case AV_PIX_FMT_YUVJ444P: source = AV_PIX_FMT_YUV444P; full_range = true; break;
    case AV_PIX_FMT_YUVJ440P: source = AV_PIX_FMT_YUV440P; full_range = true; break;
    default: break;
  }
  // The range must be known when the scaler is built: a same-format scaler
  // set up without it copies the planes unchanged.
  const ScalerKey key{frame->width, frame->height, source, full_range};
  if (!scaler_ || !(key == scaler_key_)) {
    scaler_.reset(CreateScaler(key));
    if (!scaler_) {
      LogMessage(kLogError, "player: no conversion from %s", av_get_pix_fmt_name(source));
      return;
    }
    scaler_key_ = key;
  }
  const int rows = sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height,
                             converted->data, converted->linesize);
  if (rows <= 0) return;
  observer_->OnFrame(std::make_unique<FFmpegVideoFrame>(converted.release()));
}

}  // namespace chat
