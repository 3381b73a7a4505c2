// Abstract screen capturer: copies the pixels of one monitor, or of the whole
// desktop, into a new DesktopFrame on every Capture. A capturer is used by one
// thread at a time and has no lock; it may be created and selected on one
// thread and then handed to another that starts and drives it.
#pragma once

#include <memory>

#include "media/desktop_frame.h"

namespace chat_capture {

struct DesktopCaptureOptions {
  // Capture through shared memory when the display offers it. Off forces the
  // copy through the connection, which also works for remote displays.
  bool use_shared_memory = true;
};

// A rectangle in root-window coordinates; empty when right <= left or
// bottom <= top.
struct DesktopRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  bool operator==(const DesktopRect& other) const {
    return left == other.left && top == other.top && right == other.right &&
           bottom == other.bottom;
  }
  bool operator!=(const DesktopRect& other) const { return !(*this == other); }

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool IsEmpty() const { return left >= right || top >= bottom; }
};

class DesktopCapturer {
 public:
  // Receives every captured frame, synchronously inside Capture.
  class Callback {
   public:
    virtual void OnCaptured(std::unique_ptr<DesktopFrame> frame) = 0;
    virtual ~Callback() = default;
  };

  virtual ~DesktopCapturer() = default;

  // Stores the callback (not owned; it must outlive the capturer's use).
  // Nothing is captured yet.
  virtual void Start(Callback* callback) = 0;

  // Captures one frame on the caller's thread and hands it to the callback
  // before returning 0. On failure the callback is not called and the result
  // is 1; the next call tries again.
  virtual int Capture() = 0;

  // -1 selects the whole desktop and always succeeds; 0.. select a monitor.
  // False, with the selection unchanged, for a monitor that does not exist.
  virtual bool SelectScreen(int screen) = 0;

  // The rectangle the next Capture would copy; empty when the selected screen
  // is gone or there is no display.
  virtual DesktopRect GetScreenRect() = 0;

  // False only when the capturer knows that nothing on the screen changed
  // since its last successful Capture (same rectangle, nothing drawn), so a
  // new capture would give the same pixels. True when it cannot tell.
  virtual bool MayHaveChanged() { return true; }

  static std::unique_ptr<DesktopCapturer> CreateScreenCapturer(
      const DesktopCaptureOptions& options);
};

}  // namespace chat_capture
