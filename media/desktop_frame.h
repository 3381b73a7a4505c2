// One captured picture: 32-bit pixels in memory order blue, green, red and a
// fourth byte without meaning, rows top-down. The base does not own the
// pixels; a subclass keeps whatever memory they live in alive until it is
// destroyed. A frame is handed from the capturer to its callback and then
// belongs to that callback; it may be destroyed on any thread.
#pragma once

#include <cstdint>

namespace chat_capture {

class DesktopFrame {
 public:
  DesktopFrame(const DesktopFrame&) = delete;
  DesktopFrame& operator=(const DesktopFrame&) = delete;
  virtual ~DesktopFrame() = default;

  // The top-left pixel.
  uint8_t* data() const { return data_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Bytes from one row to the next.
  int stride() const { return stride_; }

 protected:
  DesktopFrame(uint8_t* data, int width, int height, int stride)
      : data_(data), width_(width), height_(height), stride_(stride) {}

 private:
  uint8_t* const data_;
  const int width_;
  const int height_;
  const int stride_;
};

}  // namespace chat_capture
