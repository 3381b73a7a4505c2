// The native top-level window that shows a watched screen share.
//
// Owner: the application object, which creates one at start-up, calls Create
// once, shows it when the user accepts a share and hands it every decoded
// picture. The window, its X connection (a connection of its own) and its
// EGL/OpenGL ES pipeline live on the window's own thread; every X and GL call
// happens there. The other operations may be called from any thread: Show,
// Hide and Stop only post a request and wake the thread, SetFrame swaps the
// pending picture under the window's lock.
//
// The thread draws only when there is something new to show: a new picture,
// an exposed or resized window, a window just shown. Otherwise it sleeps on
// the X connection and its wake-up descriptor, so a still share costs nothing
// where the display has no vertical-blank pacing (Xvfb, many X set-ups).
//
// Xlib must be made thread-safe before any connection of the process is
// opened: the program calls XInitThreads at the top of main, before the
// toolkit opens its display. Create calls it as well, which is enough for
// programs (tests, tools) that open no other display before it.
//
// Two ways to draw. Where OpenGL ES runs on a graphics processor the picture
// is drawn by EGL + GLES2 (three textures, a shader converting the colours).
// Where the only OpenGL is a software renderer (Mesa's llvmpipe/softpipe, as
// under Xvfb), the thread itself scales and converts the picture straight to
// the window's size and puts it through the X server (shared memory when the
// server offers it); that costs a fraction of the software renderer's time.
// Both give the same picture: limited-range BT.709 colours, letterboxed with
// black bars. Without EGL the window also draws on the processor.
//
// Without a display the window is inert (Create returns false, the rest does
// nothing). Failures are logged; none stops the program. A display that goes
// away later ends drawing the same way.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "chat_base/thread.h"
#include "media/chat_video_frame.h"

class GraphicsWindow : public chat_base::Thread {
 public:
  // How the window draws. kAuto: OpenGL ES unless EGL is missing or reports a
  // software renderer, then the processor; the environment variable
  // QNCHAT_VIDEO_RENDERER ("opengl", "cpu" or "auto") overrides kAuto. The
  // other two force their path (tests and benchmarks run both); a forced
  // OpenGL ES path that cannot start leaves the window black.
  enum class Renderer { kAuto, kOpenGl, kCpu };

  // Client area, in pixels, and its position on the screen.
  static constexpr int kInitialX = 200;
  static constexpr int kInitialY = 200;
  static constexpr int kInitialWidth = 1280;
  static constexpr int kInitialHeight = 720;

  explicit GraphicsWindow(Renderer renderer = Renderer::kAuto);
  // Stops the thread: closes the window, its pipeline and its connection and
  // deletes the pending picture.
  ~GraphicsWindow() override;
  GraphicsWindow(const GraphicsWindow&) = delete;
  GraphicsWindow& operator=(const GraphicsWindow&) = delete;

  // Starts the window thread and waits until it has created the (hidden)
  // window and its drawing pipeline. False, after a log line, when there is
  // no display ($DISPLAY), when no way to draw could be set up, or when the
  // thread could not start; the program goes on without pictures. Called
  // once, by the owner. (Thread::Start alone starts the same thread without
  // waiting.)
  bool Create();

  // Maps the window in its normal state and raises it / withdraws it. A
  // close request from the window manager hides the window the same way;
  // the window is reused for the next share.
  void Show();
  void Hide();

  // Called on the stream player's thread for every decoded picture. Keeps
  // only the newest: a picture not yet drawn is deleted when the next one
  // arrives. While the window is hidden the newest waits and is drawn when it
  // is shown. A picture is deleted once uploaded; the window keeps showing it
  // until the next. Pictures that are not I420, or whose size or planes make
  // no sense, are dropped.
  void SetFrame(std::unique_ptr<chat::ChatVideoFrame> frame);

  // Ends the thread (the destructor calls it). Safe to call more than once.
  void Stop() override;

  void Run() override;

  // The path that draws once Create returned true (kOpenGl or kCpu); kAuto
  // while none does.
  Renderer GetActiveRenderer() const;

  // The X window (0 while none exists), so tests and the benchmark can read
  // the picture back through the X server.
  unsigned long GetWindowId() const;

  // Redraws of the window so far, and new pictures among them (a picture is
  // counted once, when first drawn). The waits return once the count is
  // above `count`, or after timeout_ms; they give the count reached. The X
  // server has processed a drawing when its count moves, so reading the
  // window back then shows it.
  uint64_t GetDrawCount() const;
  uint64_t GetPictureCount() const;
  uint64_t WaitForDrawCount(uint64_t count, int timeout_ms) const;
  uint64_t WaitForPictureCount(uint64_t count, int timeout_ms) const;

  // Letterbox: the size, in pixels, at which a picture is drawn centred in a
  // client area keeping its aspect ratio. The picture fills the width when it
  // is relatively wider than the area, else the height.
  struct DrawSize {
    float width;
    float height;
  };
  static DrawSize Letterbox(int picture_width, int picture_height, int client_width,
                            int client_height);

 private:
  class Pipeline;  // OpenGL ES
  enum class InitState { kPending, kReady, kFailed };
  enum class VisibilityRequest { kNone, kShow, kHide };

  // Wakes the thread out of its wait.
  void Wake();
  // The thread's work: opens the display and the window, draws until told to
  // quit, closes everything. Runs on the window thread.
  void RunWindow();

  const Renderer requested_renderer_;
  const int wake_fd_;  // eventfd; -1 when none could be made

  mutable std::mutex mutex_;  // guards everything below
  mutable std::condition_variable changed_;
  std::unique_ptr<chat::ChatVideoFrame> pending_frame_;
  bool new_frame_ = false;
  bool quit_ = false;
  VisibilityRequest visibility_request_ = VisibilityRequest::kNone;  // the latest wins
  InitState init_state_ = InitState::kPending;
  unsigned long window_id_ = 0;
  Renderer active_renderer_ = Renderer::kAuto;
  uint64_t draw_count_ = 0;
  uint64_t picture_count_ = 0;
};
