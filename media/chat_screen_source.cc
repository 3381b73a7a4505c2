#include "media/chat_screen_source.h"

#include <chrono>

#include "chat_net/time.h"

namespace chat {

namespace {

// The encoder's size: x264 needs even heights, and widths in multiples of 8
// keep the chroma rows of the scaler aligned.
int RoundWidth(int width) { return width / 8 * 8; }
int RoundHeight(int height) { return height / 2 * 2; }

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

ChatScreenSource::ChatScreenSource(std::string path, std::string host_name, std::string uuid,
                                   const chat_capture::DesktopCaptureOptions& options)
    : options_(options),
      path_(std::move(path)),
      host_name_(std::move(host_name)),
      uuid_(std::move(uuid)) {}

ChatScreenSource::~ChatScreenSource() { Stop(); }

bool ChatScreenSource::Start(int screen) {
  if (IsStarted()) return false;
  std::unique_ptr<chat_capture::DesktopCapturer> capturer =
      chat_capture::DesktopCapturer::CreateScreenCapturer(options_);
  if (!capturer->SelectScreen(screen)) return false;
  chat_capture::DesktopRect rect = capturer->GetScreenRect();
  chat_rtsp::VideoParams params;
  params.width = RoundWidth(rect.width());
  params.height = RoundHeight(rect.height());
  params.fps = kFramesPerSecond;
  params.bitrate = kBitRate;
  if (params.width < 1 || params.height < 1) return false;
  if (!Init(params)) return false;

  capturer_ = std::move(capturer);
  capturer_->Start(this);
  stop_ = false;
  return Thread::Start();
}

void ChatScreenSource::Stop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  Thread::Stop();
}

void ChatScreenSource::Run() {
  using Clock = std::chrono::steady_clock;
  const auto interval = std::chrono::milliseconds(kFrameIntervalMs);
  // Frames are due on a fixed 40 ms grid, so waking a little late does not
  // lower the rate; a capture that overruns its slot restarts the grid.
  // Waiting on a condition variable rather than yielding in a loop keeps the
  // thread off the processor between frames, and Stop still ends the wait at
  // once.
  // Each picture is stamped with the start of its slot rather than the
  // moment the thread got round to it, so a late wake-up does not make two
  // pictures look 10 ms apart.
  auto due = Clock::now();
  const uint64_t grid_origin_ms = chat_net::NowMs();
  const auto grid_origin = due;
  while (!stop_ && capturer_) {
    capture_time_ms_ =
        grid_origin_ms +
        static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(due - grid_origin).count());
    due += interval;
    // A still desktop costs neither a copy nor a conversion: the encoder
    // gets the last picture again.
    const int64_t check_start = NowNs();
    const bool changed = capturer_->MayHaveChanged();
    grab_start_ns_ = NowNs();
    capture_stats_.check_ns += grab_start_ns_ - check_start;
    if (!changed && EncodeRepeat(capture_time_ms_)) {
      capture_stats_.repeats++;
      captured_frames_.fetch_add(1, std::memory_order_relaxed);
    } else {
      capturer_->Capture();
    }
    auto now = Clock::now();
    if (now >= due) {
      due = now;
      continue;
    }
    std::unique_lock<std::mutex> lock(stop_mutex_);
    if (stop_cv_.wait_until(lock, due, [this] { return stop_.load(); })) return;
  }
}

void ChatScreenSource::OnCaptured(std::unique_ptr<chat_capture::DesktopFrame> frame) {
  capture_stats_.grabs++;
  capture_stats_.grab_ns += NowNs() - grab_start_ns_;
  screen_grabs_.fetch_add(1, std::memory_order_relaxed);
  captured_frames_.fetch_add(1, std::memory_order_relaxed);
  chat_rtsp::VideoPicture picture;
  picture.data = frame->data();
  picture.width = RoundWidth(frame->width());
  picture.height = RoundHeight(frame->height());
  picture.stride = frame->stride();
  picture.layout = chat_rtsp::kPixelBgra;
  picture.time_ms = capture_time_ms_;
  EncodeFrame(picture);
}

}  // namespace chat
