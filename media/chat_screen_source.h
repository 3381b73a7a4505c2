// The screen share of a running session: owns a desktop capturer and a
// thread that captures at most 25 frames per second, encodes each one and
// pushes it into the source's RTSP stream. Held by the chat core through a
// RefPtr; Start and Stop are called on the chat core's thread, everything
// else runs on the source's own thread. The destructor stops the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "chat_base/count_object.h"
#include "chat_base/thread.h"
#include "media/desktop_capturer.h"
#include "media/ffmpeg_video_source.h"

namespace chat {

// Where the source's thread spends its time besides converting and encoding
// (wall clock, summed). Written by that thread; read it after Stop.
struct CaptureStats {
  uint64_t grabs = 0;    // pictures copied from the screen
  uint64_t repeats = 0;  // frames where the screen had not changed: no copy
  int64_t grab_ns = 0;   // copying them
  int64_t check_ns = 0;  // asking whether anything changed
};

class ChatScreenSource : public chat_base::CountObject,
                         public chat_base::Thread,
                         public chat_capture::DesktopCapturer::Callback,
                         public chat_rtsp::FFmpegVideoSource {
 public:
  static constexpr int kFramesPerSecond = 25;
  static constexpr int kBitRate = 4000000;
  static constexpr int kFrameIntervalMs = 1000 / kFramesPerSecond;

  // The strings are only kept for the chat core's close message.
  ChatScreenSource(std::string path, std::string host_name, std::string uuid,
                   const chat_capture::DesktopCaptureOptions& options = {});
  ~ChatScreenSource() override;

  // Selects the screen (-1: the whole desktop), initialises the encoder at
  // the screen's size rounded down to a multiple of 8 by 2, and starts
  // capturing. False when the screen does not exist or is empty, or the
  // encoder cannot be opened; nothing runs then.
  bool Start(int screen);

  // Ends the thread; returns as soon as a capture in progress is done.
  void Stop() override;

  const std::string& path() const { return path_; }
  const std::string& host_name() const { return host_name_; }
  const std::string& uuid() const { return uuid_; }

  // Frames the thread produced so far: pictures of the screen, and repeats
  // of the last one while the screen did not change (the encoder makes a
  // nearly empty picture of those, and viewers keep the pace). Any thread.
  uint64_t CapturedFrames() const { return captured_frames_.load(std::memory_order_relaxed); }
  // Of them, pictures actually copied from the screen. Any thread.
  uint64_t ScreenGrabs() const { return screen_grabs_.load(std::memory_order_relaxed); }

  const CaptureStats& GetCaptureStats() const { return capture_stats_; }

 protected:
  void Run() override;
  void OnCaptured(std::unique_ptr<chat_capture::DesktopFrame> frame) override;

 private:
  const chat_capture::DesktopCaptureOptions options_;
  std::unique_ptr<chat_capture::DesktopCapturer> capturer_;  // the source's thread while running
  std::atomic<bool> stop_{false};
  std::mutex stop_mutex_;  // with stop_cv_, lets Stop cut the wait between frames short
  std::condition_variable stop_cv_;
  std::atomic<uint64_t> captured_frames_{0};
  std::atomic<uint64_t> screen_grabs_{0};
  uint64_t capture_time_ms_ = 0;  // when the capture in progress began; the thread's own
  int64_t grab_start_ns_ = 0;     // the same on the clock of the statistics
  CaptureStats capture_stats_;    // the thread's own
  const std::string path_;
  const std::string host_name_;
  const std::string uuid_;
};

}  // namespace chat
