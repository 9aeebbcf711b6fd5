// SSE2 kernel: 16 pixels of one or two rows per step, 8 chroma samples shared by them.
#include <emmintrin.h>

#include <cstring>

#include "player/video/convert/color_convert_kernels.h"

namespace rovik::player::convert {
namespace {

struct Terms {
  __m128i red, greenU, greenV, blue;  // per pixel, 16-bit
};

// Chroma terms of 4 samples widened to 8 pixels: each sample serves two.
inline Terms Widen(const Terms& t, bool high) {
  if (high) {
    return {_mm_unpackhi_epi16(t.red, t.red), _mm_unpackhi_epi16(t.greenU, t.greenU),
            _mm_unpackhi_epi16(t.greenV, t.greenV), _mm_unpackhi_epi16(t.blue, t.blue)};
  }
  return {_mm_unpacklo_epi16(t.red, t.red), _mm_unpacklo_epi16(t.greenU, t.greenU),
          _mm_unpacklo_epi16(t.greenV, t.greenV), _mm_unpacklo_epi16(t.blue, t.blue)};
}

inline void Put(uint8_t* dst, __m128i value) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), value);
}

// 8 pixels: luma in 16-bit lanes (already Y - 16 saturated, widened), chroma terms per pixel.
inline void Store8(__m128i y16, const Terms& t, PixelFormatCode format, uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i max = _mm_set1_epi16(255);
  const __m128i luma = _mm_mulhi_epi16(_mm_slli_epi16(y16, 3), _mm_set1_epi16(kLumaCoef));
  __m128i r = _mm_adds_epi16(luma, t.red);
  __m128i g = _mm_adds_epi16(_mm_adds_epi16(luma, t.greenU), t.greenV);
  __m128i b = _mm_adds_epi16(luma, t.blue);
  r = _mm_min_epi16(_mm_max_epi16(r, zero), max);
  g = _mm_min_epi16(_mm_max_epi16(g, zero), max);
  b = _mm_min_epi16(_mm_max_epi16(b, zero), max);
  switch (format) {
    case kPixelFormatRgb32: {
      const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
      // The fourth byte is 0xFF: an ARGB window shows the pixel opaque.
      const __m128i ra = _mm_or_si128(r, _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
      Put(dst, _mm_unpacklo_epi16(bg, ra));
      Put(dst + 16, _mm_unpackhi_epi16(bg, ra));
      break;
    }
    case kPixelFormatRgb24: {
      const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
      alignas(16) uint8_t quad[32];
      _mm_store_si128(reinterpret_cast<__m128i*>(quad), _mm_unpacklo_epi16(bg, r));
      _mm_store_si128(reinterpret_cast<__m128i*>(quad + 16), _mm_unpackhi_epi16(bg, r));
      for (int i = 0; i < 8; ++i) {
        std::memcpy(dst + 3 * i, quad + 4 * i, 3);
      }
      break;
    }
    case kPixelFormatRgb565: {
      const __m128i word =
          _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8),
                                    _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3)),
                       _mm_srli_epi16(b, 3));
      Put(dst, word);
      break;
    }
    case kPixelFormatRgb555: {
      const __m128i word =
          _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 7),
                                    _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xF8)), 2)),
                       _mm_srli_epi16(b, 3));
      Put(dst, word);
      break;
    }
    case kPixelFormatNone:
      break;
  }
}

inline void Row16(const uint8_t* y, const Terms& t, PixelFormatCode format, int bpp, uint8_t* d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i luma8 =
      _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), _mm_set1_epi8(16));
  Store8(_mm_unpacklo_epi8(luma8, zero), Widen(t, false), format, d);
  Store8(_mm_unpackhi_epi8(luma8, zero), Widen(t, true), format, d + 8 * bpp);
}

}  // namespace

int RowsSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* d0,
             uint8_t* d1, int count, PixelFormatCode format, bool /*around*/) {
  const int bpp = BytesPerPixel(format);
  if (bpp == 0) {
    return 0;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  int x = 0;
  for (; x + 16 <= count; x += 16) {
    const int c = x / 2;
    __m128i us = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + c)), zero);
    __m128i vs = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c)), zero);
    us = _mm_slli_epi16(_mm_sub_epi16(us, bias), 3);
    vs = _mm_slli_epi16(_mm_sub_epi16(vs, bias), 3);
    const Terms t{_mm_mulhi_epi16(vs, _mm_set1_epi16(kRedFromV)),
                  _mm_mulhi_epi16(us, _mm_set1_epi16(kGreenFromU)),
                  _mm_mulhi_epi16(vs, _mm_set1_epi16(kGreenFromV)),
                  _mm_mulhi_epi16(us, _mm_set1_epi16(kBlueFromU))};
    Row16(y0 + x, t, format, bpp, d0 + static_cast<size_t>(x) * bpp);
    if (y1 != nullptr) {
      Row16(y1 + x, t, format, bpp, d1 + static_cast<size_t>(x) * bpp);
    }
  }
  return x;
}

}  // namespace rovik::player::convert
