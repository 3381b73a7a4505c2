#include "media/desktop_frame_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace chat_capture {

void XImageDeleter::operator()(_XImage* image) const {
  if (image) XDestroyImage(image);
}

DesktopFrameX11::DesktopFrameX11(XImagePtr image)
    : DesktopFrame(reinterpret_cast<uint8_t*>(image->data), image->width, image->height,
                   image->bytes_per_line),
      image_(std::move(image)) {}

DesktopFrameX11::DesktopFrameX11(std::shared_ptr<ShmImage> shm_image, uint8_t* data, int width,
                                 int height, int stride)
    : DesktopFrame(data, width, height, stride), shm_image_(std::move(shm_image)) {}

DesktopFrameX11::~DesktopFrameX11() = default;

}  // namespace chat_capture
