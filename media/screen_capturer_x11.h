// Captures the X11 root window or one of its RandR monitors into BGRA frames.
// Owns its own display connection (opened on first use from $DISPLAY), a
// shared-memory image that is reused while no frame still holds it, and a
// Damage object on the root window that tells whether anything was drawn
// since the last capture. Used by
// one thread at a time: selected on one thread, then driven from another.
// A server that goes away ends the capturer's use of its display for good:
// the connection is closed and every later capture fails, as with no display.
#pragma once

#include <memory>
#include <string>

#include "media/desktop_capturer.h"

struct _XDisplay;

namespace chat_capture {

class ShmImage;

class ScreenCapturerX11 : public DesktopCapturer {
 public:
  explicit ScreenCapturerX11(const DesktopCaptureOptions& options);
  ~ScreenCapturerX11() override;
  // The display connection keeps a pointer to this object.
  ScreenCapturerX11(const ScreenCapturerX11&) = delete;
  ScreenCapturerX11& operator=(const ScreenCapturerX11&) = delete;

  void Start(Callback* callback) override;
  int Capture() override;
  // Screen n >= 0 is the n-th monitor RandR reports; its key is the name of
  // its first output (the monitor's own name when it has no output).
  bool SelectScreen(int screen) override;
  DesktopRect GetScreenRect() override;
  // Reads the Damage events that arrived; without the extension, before the
  // first capture or after a failed one, true.
  bool MayHaveChanged() override;

  // Whether the last successful capture went through shared memory.
  bool UsedSharedMemoryForTesting() const { return last_capture_used_shm_; }

 private:
  struct DisplayCloser {
    void operator()(_XDisplay* display) const;
  };

  // Opens the display on first use; false (logged once) when there is none
  // or the connection to it was lost.
  bool EnsureDisplay();
  // Called by Xlib, on the thread of the failing call, once the connection
  // is broken. Returning keeps the process alive; the failing call then
  // returns an error and the display must not be used any more.
  static void OnConnectionLost(_XDisplay* display, void* capturer);
  // Closes the display once its connection was lost; logs that once.
  void CloseLostDisplay();
  // GetScreenRect, leaving a display whose connection broke meanwhile open.
  DesktopRect QueryScreenRect();
  // The monitor's rectangle and key; false when it does not exist.
  bool LookUpMonitor(int index, DesktopRect* rect, std::string* key);
  // A shared-memory image of the size, reused when possible; none when shared
  // memory cannot be used (then it is not tried again).
  std::shared_ptr<ShmImage> GetShmImage(int width, int height);
  void DropShmImage();
  std::unique_ptr<DesktopFrame> CaptureShm(const DesktopRect& rect);
  std::unique_ptr<DesktopFrame> CaptureCopy(const DesktopRect& rect);
  // Creates the Damage object once per connection, when the server has the
  // extension.
  void EnsureDamage();

  Callback* callback_ = nullptr;  // not owned
  int screen_ = -1;               // -1: the whole root window
  std::string device_key_;        // empty for -1
  bool use_shm_;                  // cleared once shared memory failed
  bool display_open_failed_ = false;
  bool display_lost_ = false;  // set from inside Xlib calls on display_
  std::string display_name_;   // of the open display
  bool last_capture_used_shm_ = false;
  std::unique_ptr<_XDisplay, DisplayCloser> display_;
  std::shared_ptr<ShmImage> shm_image_;  // attached to display_ while held here
  unsigned long damage_ = 0;             // on display_'s root; 0: none
  bool damage_tried_ = false;            // for this connection
  int damage_event_base_ = 0;
  bool damaged_ = true;       // drawn on since the last capture began
  bool have_capture_ = false;  // the last Capture succeeded
  DesktopRect last_rect_;      // and copied this
};

}  // namespace chat_capture
