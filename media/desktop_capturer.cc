#include "media/desktop_capturer.h"

#include "media/screen_capturer_x11.h"

namespace chat_capture {

std::unique_ptr<DesktopCapturer> DesktopCapturer::CreateScreenCapturer(
    const DesktopCaptureOptions& options) {
  return std::make_unique<ScreenCapturerX11>(options);
}

}  // namespace chat_capture
