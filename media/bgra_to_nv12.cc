#include "media/bgra_to_nv12.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chat_rtsp {

namespace {

// BT.709 in limited range, 14-bit fixed point, in blue, green, red order.
// Luma: 219/255 of the full-range weights (white gives 235, black 16).
// Chroma: 224/255 of the full-range differences; each row sums to zero, so
// greys have no colour at all.
constexpr int kShift = 14;
constexpr int kYb = 1016, kYg = 10064, kYr = 2991;
constexpr int kUb = 7196, kUg = -5547, kUr = -1649;
constexpr int kVb = -660, kVg = -6536, kVr = 7196;
constexpr int kYOffset = (16 << kShift) + (1 << (kShift - 1));
// Chroma works on the sum of four pixels: two more bits to shift out.
constexpr int kCShift = kShift + 2;
constexpr int kCOffset = (128 << kCShift) + (1 << (kCShift - 1));

inline uint8_t Luma(const uint8_t* p) {
  return static_cast<uint8_t>((kYb * p[0] + kYg * p[1] + kYr * p[2] + kYOffset) >> kShift);
}

// Columns [from, width) of two rows, two at a time.
void ConvertColumns(const uint8_t* row0, const uint8_t* row1, int from, int width, uint8_t* y0,
                    uint8_t* y1, uint8_t* uv) {
  for (int x = from; x < width; x += 2) {
    const uint8_t* a = row0 + x * 4;
    const uint8_t* b = row1 + x * 4;
    y0[x] = Luma(a);
    y0[x + 1] = Luma(a + 4);
    y1[x] = Luma(b);
    y1[x + 1] = Luma(b + 4);
    const int sb = a[0] + a[4] + b[0] + b[4];
    const int sg = a[1] + a[5] + b[1] + b[5];
    const int sr = a[2] + a[6] + b[2] + b[6];
    uv[x] = static_cast<uint8_t>((kUb * sb + kUg * sg + kUr * sr + kCOffset) >> kCShift);
    uv[x + 1] = static_cast<uint8_t>((kVb * sb + kVg * sg + kVr * sr + kCOffset) >> kCShift);
  }
}

bool Valid(const uint8_t* bgra, int width, int height, const Nv12Planes& out) {
  return bgra && out.y && out.uv && width > 0 && height > 0 && width % 2 == 0 &&
         height % 2 == 0;
}

#if defined(__SSE2__)

// Adds the neighbouring 32-bit lanes of a and b: [a0+a1, a2+a3, b0+b1, b2+b3].
inline __m128i PairSums(__m128i a, __m128i b) {
  const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
  return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                       _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

// Luma of four pixels given as 16-bit lanes (lo: pixels 0, 1; hi: 2, 3).
inline __m128i Luma4(__m128i lo, __m128i hi, __m128i weights, __m128i offset) {
  const __m128i sum = PairSums(_mm_madd_epi16(lo, weights), _mm_madd_epi16(hi, weights));
  return _mm_srai_epi32(_mm_add_epi32(sum, offset), kShift);
}

// Two rows of 16 pixels: 16 luma bytes each and 8 U, V pairs.
inline void Convert16(const uint8_t* row0, const uint8_t* row1, uint8_t* y0, uint8_t* y1,
                      uint8_t* uv) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wy = _mm_setr_epi16(kYb, kYg, kYr, 0, kYb, kYg, kYr, 0);
  const __m128i wu = _mm_setr_epi16(kUb, kUg, kUr, 0, kUb, kUg, kUr, 0);
  const __m128i wv = _mm_setr_epi16(kVb, kVg, kVr, 0, kVb, kVg, kVr, 0);
  const __m128i y_offset = _mm_set1_epi32(kYOffset);
  const __m128i c_offset = _mm_set1_epi32(kCOffset);

  __m128i luma0[4], luma1[4], sums[4];
  for (int k = 0; k < 4; ++k) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + 16 * k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + 16 * k));
    const __m128i a_lo = _mm_unpacklo_epi8(a, zero), a_hi = _mm_unpackhi_epi8(a, zero);
    const __m128i b_lo = _mm_unpacklo_epi8(b, zero), b_hi = _mm_unpackhi_epi8(b, zero);
    luma0[k] = Luma4(a_lo, a_hi, wy, y_offset);
    luma1[k] = Luma4(b_lo, b_hi, wy, y_offset);
    // Column sums of pixels 0, 1 and 2, 3, then the two columns of each pair.
    const __m128i lo = _mm_add_epi16(a_lo, b_lo), hi = _mm_add_epi16(a_hi, b_hi);
    sums[k] = _mm_unpacklo_epi64(_mm_add_epi16(lo, _mm_srli_si128(lo, 8)),
                                 _mm_add_epi16(hi, _mm_srli_si128(hi, 8)));
  }
  const __m128i y0_16 = _mm_packus_epi16(_mm_packs_epi32(luma0[0], luma0[1]),
                                         _mm_packs_epi32(luma0[2], luma0[3]));
  const __m128i y1_16 = _mm_packus_epi16(_mm_packs_epi32(luma1[0], luma1[1]),
                                         _mm_packs_epi32(luma1[2], luma1[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y0), y0_16);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y1), y1_16);

  __m128i u[2], v[2];
  for (int h = 0; h < 2; ++h) {
    const __m128i s0 = sums[2 * h], s1 = sums[2 * h + 1];
    u[h] = _mm_srai_epi32(
        _mm_add_epi32(PairSums(_mm_madd_epi16(s0, wu), _mm_madd_epi16(s1, wu)), c_offset),
        kCShift);
    v[h] = _mm_srai_epi32(
        _mm_add_epi32(PairSums(_mm_madd_epi16(s0, wv), _mm_madd_epi16(s1, wv)), c_offset),
        kCShift);
  }
  const __m128i u8 = _mm_packs_epi32(u[0], u[1]);
  const __m128i v8 = _mm_packs_epi32(v[0], v[1]);
  const __m128i interleaved =
      _mm_packus_epi16(_mm_unpacklo_epi16(u8, v8), _mm_unpackhi_epi16(u8, v8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(uv), interleaved);
}

#endif

}  // namespace

bool ConvertBgraToNv12Plain(const uint8_t* bgra, int stride, int width, int height,
                            const Nv12Planes& out) {
  if (!Valid(bgra, width, height, out)) return false;
  for (int y = 0; y < height; y += 2) {
    const uint8_t* row0 = bgra + static_cast<std::ptrdiff_t>(y) * stride;
    ConvertColumns(row0, row0 + stride, 0, width, out.y + static_cast<std::ptrdiff_t>(y) * out.y_stride,
                   out.y + static_cast<std::ptrdiff_t>(y + 1) * out.y_stride,
                   out.uv + static_cast<std::ptrdiff_t>(y / 2) * out.uv_stride);
  }
  return true;
}

bool ConvertBgraToNv12(const uint8_t* bgra, int stride, int width, int height,
                       const Nv12Planes& out) {
#if defined(__SSE2__)
  if (!Valid(bgra, width, height, out)) return false;
  const int vector_width = width / 16 * 16;
  for (int y = 0; y < height; y += 2) {
    const uint8_t* row0 = bgra + static_cast<std::ptrdiff_t>(y) * stride;
    const uint8_t* row1 = row0 + stride;
    uint8_t* y0 = out.y + static_cast<std::ptrdiff_t>(y) * out.y_stride;
    uint8_t* y1 = y0 + out.y_stride;
    uint8_t* uv = out.uv + static_cast<std::ptrdiff_t>(y / 2) * out.uv_stride;
    for (int x = 0; x < vector_width; x += 16)
      Convert16(row0 + x * 4, row1 + x * 4, y0 + x, y1 + x, uv + x);
    ConvertColumns(row0, row1, vector_width, width, y0, y1, uv);
  }
  return true;
#else
  return ConvertBgraToNv12Plain(bgra, stride, width, height, out);
#endif
}

}  // namespace chat_rtsp
