// The screen share's own BGRA to NV12 conversion: colours against FFmpeg's
// scaler with the settings the source used before (BT.709, limited range),
// the vector code against the plain code, and known patches through the
// encoder and back.
#include "media/bgra_to_nv12.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdlib>
#include <random>
#include <vector>

#include "media/ffmpeg_video_source.h"
#include "media/h264_decoder.h"

namespace chat_rtsp {
namespace {

struct Colour {
  uint8_t r, g, b;
};

// Saturated primaries and secondaries, the greys at both ends and between,
// and a few desktop-like mixed colours.
const Colour kPatches[] = {{255, 255, 255}, {0, 0, 0},     {128, 128, 128}, {255, 0, 0},
                           {0, 255, 0},     {0, 0, 255},   {255, 255, 0},   {0, 255, 255},
                           {255, 0, 255},   {51, 102, 204}, {240, 200, 120}, {20, 60, 30}};
constexpr int kPatchCount = sizeof(kPatches) / sizeof(kPatches[0]);
constexpr int kPatch = 64;  // pixels square; the encoder keeps the inside flat

struct Nv12 {
  Nv12(int w, int h) : width(w), height(h), y(w * h), uv(w * h / 2) {}
  Nv12Planes Planes() { return Nv12Planes{y.data(), width, uv.data(), width}; }
  int Y(int x, int row) const { return y[row * width + x]; }
  int U(int x, int row) const { return uv[(row / 2) * width + x / 2 * 2]; }
  int V(int x, int row) const { return uv[(row / 2) * width + x / 2 * 2 + 1]; }
  int width, height;
  std::vector<uint8_t> y, uv;
};

// Patches in a row, kPatch x kPatch each, the fourth byte random (it has no
// meaning and must not leak into the colours).
std::vector<uint8_t> PatchPicture(int width, int height, int stride) {
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
  std::mt19937 gen(7);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const Colour& c = kPatches[(x / kPatch) % kPatchCount];
      uint8_t* p = &pixels[row * stride + x * 4];
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = static_cast<uint8_t>(gen());
    }
  }
  return pixels;
}

// What the source did before: FFmpeg's scaler, fast bilinear, BT.709 on both
// sides, limited range.
Nv12 ScalerConvert(const std::vector<uint8_t>& pixels, int width, int height, int stride) {
  Nv12 out(width, height);
  SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height,
                                      AV_PIX_FMT_NV12, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
  EXPECT_NE(scaler, nullptr);
  if (!scaler) return out;
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(scaler, coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
  const uint8_t* src[4] = {pixels.data(), nullptr, nullptr, nullptr};
  const int src_stride[4] = {stride, 0, 0, 0};
  uint8_t* dst[4] = {out.y.data(), out.uv.data(), nullptr, nullptr};
  const int dst_stride[4] = {width, width, 0, 0};
  sws_scale(scaler, src, src_stride, 0, height, dst, dst_stride);
  sws_freeContext(scaler);
  return out;
}

// BT.709 limited range from the definition, in floating point.
void Expected(const Colour& c, double* y, double* u, double* v) {
  const double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
  const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  *y = 16 + 219 * luma;
  *u = 128 + 224 * (b - luma) / 1.8556;
  *v = 128 + 224 * (r - luma) / 1.5748;
}

TEST(BgraToNv12Test, PatchesMatchTheDefinitionAndTheScalerUsedBefore) {
  const int width = kPatch * kPatchCount, height = 64, stride = width * 4 + 32;
  const std::vector<uint8_t> pixels = PatchPicture(width, height, stride);
  Nv12 ours(width, height);
  ASSERT_TRUE(ConvertBgraToNv12(pixels.data(), stride, width, height, ours.Planes()));
  const Nv12 scaler = ScalerConvert(pixels, width, height, stride);
  for (int i = 0; i < kPatchCount; ++i) {
    const int x = i * kPatch + kPatch / 2, row = height / 2;
    double y, u, v;
    Expected(kPatches[i], &y, &u, &v);
    SCOPED_TRACE(::testing::Message() << "patch " << i << " rgb " << int{kPatches[i].r} << ","
                                      << int{kPatches[i].g} << "," << int{kPatches[i].b});
    EXPECT_NEAR(ours.Y(x, row), y, 0.75);
    EXPECT_NEAR(ours.U(x, row), u, 0.75);
    EXPECT_NEAR(ours.V(x, row), v, 0.75);
    EXPECT_NEAR(ours.Y(x, row), scaler.Y(x, row), 2);
    EXPECT_NEAR(ours.U(x, row), scaler.U(x, row), 2);
    EXPECT_NEAR(ours.V(x, row), scaler.V(x, row), 2);
  }
  // Chroma is the mean of its 2x2 block: red and blue in a checkerboard give
  // the colour of their mean, purple, and its luma stays per pixel.
  const int w = 32, h = 2;
  std::vector<uint8_t> checker(w * h * 4, 0);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) checker[(row * w + x) * 4 + ((x + row) % 2 ? 0 : 2)] = 255;
  Nv12 mixed(w, h);
  ASSERT_TRUE(ConvertBgraToNv12(checker.data(), w * 4, w, h, mixed.Planes()));
  double y, u, v, y_red, unused;
  Expected(Colour{128, 0, 128}, &y, &u, &v);
  Expected(Colour{255, 0, 0}, &y_red, &unused, &unused);
  for (int x = 0; x < w; x += 2) {
    EXPECT_NEAR(mixed.U(x, 0), u, 1) << x;
    EXPECT_NEAR(mixed.V(x, 0), v, 1) << x;
    EXPECT_NEAR(mixed.Y(x, 0), y_red, 1) << x;
  }
}

TEST(BgraToNv12Test, VectorCodeEqualsPlainCodeAtEveryWidthAndRefusesOddSizes) {
  std::mt19937 gen(11);
  // Widths around the 16-pixel blocks, so the plain tail runs too.
  for (int width : {2, 14, 16, 18, 30, 48, 1352}) {
    const int height = 6, stride = width * 4 + 12;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
    for (uint8_t& p : pixels) p = static_cast<uint8_t>(gen());
    Nv12 vector(width, height), plain(width, height);
    ASSERT_TRUE(ConvertBgraToNv12(pixels.data(), stride, width, height, vector.Planes()));
    ASSERT_TRUE(ConvertBgraToNv12Plain(pixels.data(), stride, width, height, plain.Planes()));
    EXPECT_EQ(vector.y, plain.y) << "width " << width;
    EXPECT_EQ(vector.uv, plain.uv) << "width " << width;
  }
  std::vector<uint8_t> pixels(64 * 4 * 4);
  Nv12 out(64, 4);
  EXPECT_FALSE(ConvertBgraToNv12(pixels.data(), 64 * 4, 63, 4, out.Planes()));
  EXPECT_FALSE(ConvertBgraToNv12(pixels.data(), 64 * 4, 64, 3, out.Planes()));
  EXPECT_FALSE(ConvertBgraToNv12(nullptr, 64 * 4, 64, 4, out.Planes()));
}

TEST(BgraToNv12Test, PatchesSurviveTheEncoderAndTheDecoder) {
  // The screen share's path: a BGRA picture of the encoder's size.
  const int width = kPatch * kPatchCount, height = 128, stride = width * 4;
  FFmpegVideoSource source;
  ASSERT_TRUE(source.Init(VideoParams{width, height, 25, 4000000}));
  const std::vector<uint8_t> pixels = PatchPicture(width, height, stride);
  source.EncodeFrame(VideoPicture{pixels.data(), width, height, stride, kPixelBgra});
  // The still screen's repeats decode to the same picture.
  ASSERT_TRUE(source.EncodeRepeat(0));
  ASSERT_TRUE(source.EncodeRepeat(0));
  EXPECT_EQ(source.GetEncodeStats().packets, 3u);
  EXPECT_EQ(source.GetEncodeStats().repeats, 2u);
  const std::vector<media_test::DecodedPicture> pictures =
      media_test::DecodeStream(source.GetStream().get());
  ASSERT_EQ(pictures.size(), 3u);
  for (const media_test::DecodedPicture& picture : pictures) {
    ASSERT_EQ(picture.width, width);
    for (int i = 0; i < kPatchCount; ++i) {
      double y, u, v;
      Expected(kPatches[i], &y, &u, &v);
      EXPECT_NEAR(picture.luma[(height / 2) * width + i * kPatch + kPatch / 2], y, 3)
          << "patch " << i;
    }
  }
  // The later pictures cost next to nothing: nothing changed.
  const chat_base::RefPtr<RtspStreamH264> stream = source.GetStream();
  EXPECT_LT(stream->GetFrame(2)->GetSize() * 20, stream->GetFrame(0)->GetSize());
}

TEST(BgraToNv12Test, NoRepeatBeforeTheFirstPicture) {
  FFmpegVideoSource source;
  EXPECT_FALSE(source.EncodeRepeat(0));
  ASSERT_TRUE(source.Init(VideoParams{64, 64, 25, 4000000}));
  EXPECT_FALSE(source.EncodeRepeat(0));
  EXPECT_EQ(source.GetEncodeStats().packets, 0u);
}

}  // namespace
}  // namespace chat_rtsp
