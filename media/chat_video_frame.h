// A decoded picture handed from the stream player to whoever shows it. The
// receiver owns the frame (deletes it when done); the pixel memory stays
// valid until then. Planes are read-only. Any thread may hold a frame, one at
// a time.
#pragma once

#include <cstdint>

namespace chat {

class ChatVideoFrame {
 public:
  // Format codes returned by GetFormat.
  static constexpr int kFormatOther = 0;  // any layout other than I420
  // Planar YUV 4:2:0: plane 0 is Y at full size, planes 1 and 2 are U and V
  // at half width and half height, rounded up.
  static constexpr int kFormatI420 = 1;

  virtual ~ChatVideoFrame() = default;

  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  // First byte of plane 0, 1 or 2; null for any other plane.
  virtual const uint8_t* GetData(int plane) const = 0;
  // Bytes per row of the plane (at least the plane's width); 0 for any other plane.
  virtual int GetStride(int plane) const = 0;
  virtual int GetFormat() const = 0;
};

}  // namespace chat
