// A DesktopFrame whose pixels live in an X11 image: either one that Xlib
// allocated for a copy through the connection, or a shared-memory image that
// the capturer reuses for later frames once this frame is gone. The frame
// owns its share of that memory and may be destroyed on any thread, also after
// the capturer and its display connection are gone.
#pragma once

#include <memory>

#include "media/desktop_frame.h"

struct _XImage;

namespace chat_capture {

// Frees an image Xlib allocated, pixels included.
struct XImageDeleter {
  void operator()(_XImage* image) const;
};
using XImagePtr = std::unique_ptr<_XImage, XImageDeleter>;

// A shared-memory image; defined by the capturer.
class ShmImage;

class DesktopFrameX11 : public DesktopFrame {
 public:
  // Takes an image from XGetImage.
  explicit DesktopFrameX11(XImagePtr image);
  // Shares a capturer's shared-memory image; the capturer reuses it only after
  // the last frame holding it has been destroyed.
  DesktopFrameX11(std::shared_ptr<ShmImage> shm_image, uint8_t* data, int width, int height,
                  int stride);
  ~DesktopFrameX11() override;

 private:
  XImagePtr image_;
  std::shared_ptr<ShmImage> shm_image_;
};

}  // namespace chat_capture
