// BGRA (blue, green, red, unused byte in memory order) to NV12 with the
// ITU-R BT.709 matrix in limited range (luma 16..235, chroma 16..240), the
// colours the stream says it carries. Chroma is the mean of each 2x2 block.
// Written for the screen share, where a generic scaler spent as long on this
// step as the encoder on the picture. Pure functions, any thread.
#pragma once

#include <cstdint>

namespace chat_rtsp {

struct Nv12Planes {
  uint8_t* y = nullptr;
  int y_stride = 0;
  uint8_t* uv = nullptr;  // interleaved U, V; height / 2 rows
  int uv_stride = 0;
};

// Converts width x height pixels. Width and height must be even and
// positive; false (nothing written) otherwise. Uses SSE2 where the machine
// has it (every x86-64), plain code elsewhere and for the last columns.
bool ConvertBgraToNv12(const uint8_t* bgra, int stride, int width, int height,
                       const Nv12Planes& out);

// The same conversion without vector instructions, one pixel at a time.
bool ConvertBgraToNv12Plain(const uint8_t* bgra, int stride, int width, int height,
                            const Nv12Planes& out);

}  // namespace chat_rtsp
