// Plays a shared screen: a thread that opens the sharer's RTSP URL with
// FFmpeg, decodes the video and hands every picture, as I420, to an observer.
// One player serves one URL for one run. The owner (the application, or the
// headless peer) calls Start, Stop and the destructor from its own thread;
// the observer is called on the player's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chat/chat_peer.h"  // ChatMediaStreamObserver, the application's side of the player
#include "chat_base/thread.h"
#include "media/chat_video_frame.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace chat {

// What a conversion to I420 depends on.
struct ScalerKey {
  int width = 0;
  int height = 0;
  int format = -1;  // source pixel format
  bool full_range = false;
  bool operator==(const ScalerKey& o) const {
    return width == o.width && height == o.height && format == o.format &&
           full_range == o.full_range;
  }
};

// The URL of a share comes from the network. Only a plain
// "rtsp://<host>[:port]/path" whose host is exactly `expected_host` (the
// address the offer came from) is played: no user information ("@"), no
// other scheme, no control characters, blanks or backslashes, a port of
// digits only, a sane length. Any thread.
bool IsAcceptableShareUrl(const std::string& url, const std::string& expected_host);

// The host part of a URL that passes the shape rules above (any host), or ""
// when it does not. Any thread.
std::string ShareUrlHost(const std::string& url);

class ChatMediaStreamPlayer : public chat_base::Thread {
 public:
  // Socket time-out of the RTSP demuxer, in microseconds.
  static constexpr const char* kSocketTimeoutUs = "500000";
  // The only protocols FFmpeg may open for the player: RTSP with the RTP
  // packets interleaved on its TCP connection.
  static constexpr const char* kProtocolWhitelist = "rtsp,tcp";

  // Nothing is opened until the thread runs. The observer is not owned and
  // must outlive the thread (may be null). `format` is the requested output
  // format; only ChatVideoFrame::kFormatI420 delivers pictures.
  ChatMediaStreamPlayer(std::string url, ChatMediaStreamObserver* observer,
                        int format = ChatVideoFrame::kFormatI420);
  // Stops the thread.
  ~ChatMediaStreamPlayer() override;

  // Sets the stop flag and waits for the thread to end. Opening and reading
  // look at the flag at least every 100 ms, so this returns promptly even
  // while the sharer does not answer. Not from the observer's calls.
  void Stop() override;

  // What the player asks of FFmpeg to cut delay. Each can be switched to
  // measure what it buys (bench/screen_share does); the defaults are what
  // that measurement kept. Call before Start.
  struct LatencyOptions {
    // Decoder "threads", with "thread_type" slice unless frame threading is
    // allowed. Frame threads hold back one picture each; and taking slices as
    // they come works only with slice threads (single-threaded, the decoder
    // closed the picture after every packet and concealed the rest).
    int decoder_threads = 2;            // 0: "auto"
    bool decoder_frame_threads = false;
    bool decoder_low_delay = true;      // "flags" low_delay
    // "fflags" nobuffer: off. It drops the packets read while probing,
    // the first key frame among them, so the first picture waited for the
    // next key frame (1.3 s against 0.18 s) and later ones came no sooner.
    bool demuxer_no_buffer = false;
    bool demuxer_no_reorder = true;     // "max_delay" 0: no reordering queue for RTP
    bool small_probe = true;            // "probesize" 32768, "analyzeduration" 0
    // "fflags" noparse with the decoder's "flags2" chunks: the demuxer's
    // parser finds a picture's end only when the next picture begins, one
    // picture (40 ms at 25 fps) late; the decoder given the slices as they
    // come hands the picture out once its last macroblock row is decoded.
    bool slices_as_they_come = true;
  };
  void SetLatencyOptions(const LatencyOptions& options) { latency_options_ = options; }

  // Protocols FFmpeg may open, comma separated. Tests only (a local file
  // stands in for a stream layout our server does not produce); call before
  // Start.
  void SetProtocolWhitelistForTest(std::string whitelist, std::string format_name);

 protected:
  void Run() override;

 private:
  struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const;
  };
  struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const;
  };
  struct ScalerDeleter {
    void operator()(SwsContext* scaler) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* frame) const;
  };
  struct PacketDeleter {
    void operator()(AVPacket* packet) const;
  };

  static int InterruptCallback(void* opaque);
  // Opens the input and the decoder; the index of the video stream, or -1.
  int Open();
  void DecodeLoop(int stream_index);
  // Takes one video packet as the demuxer gave it: to the decoder at once,
  // or (from a sharer that splits units) joined into the unit it belongs to.
  void TakeVideoPacket(AVPacket* packet);
  void Decode(AVPacket* packet);
  void Deliver(AVFrame* frame);
  // Waits up to `ms` for the stop flag; true when it is set.
  bool WaitForStop(int ms);

  const std::string url_;
  ChatMediaStreamObserver* const observer_;
  const int format_;
  std::string whitelist_ = kProtocolWhitelist;
  std::string format_name_ = "rtsp";
  LatencyOptions latency_options_;
  // The thread's own while it runs.
  std::unique_ptr<AVFormatContext, FormatContextDeleter> input_;
  std::unique_ptr<AVCodecContext, CodecContextDeleter> decoder_;
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
  ScalerKey scaler_key_;  // what scaler_ was built for
  // Slices as they come (the thread's own): whether the sharer splits units
  // into pieces, the unit being joined, and whether units are dropped until
  // a key frame begins, after the switch to joining.
  bool take_slices_ = false;
  bool joining_units_ = false;
  bool skipping_to_key_frame_ = false;
  std::vector<uint8_t> held_unit_;
  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;  // with stop_cv_, cuts the pause after a failed read short
  std::condition_variable stop_cv_;
};

}  // namespace chat
