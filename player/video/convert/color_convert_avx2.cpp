// AVX2 kernel: 32 pixels of one or two rows per step, 16 chroma samples shared by them.
// Built with -mavx2 and only called when the processor reports AVX2.
#include <immintrin.h>

#include <cstring>

#include "player/video/convert/color_convert_kernels.h"

namespace rovik::player::convert {
namespace {

struct Terms {
  __m256i red, greenU, greenV, blue;  // per pixel, 16-bit, pixels in order
};

// The chroma terms of 16 samples, 16-bit, samples [0..7 | 8..15].
inline Terms ChromaTerms(const uint8_t* u, const uint8_t* v) {
  const __m256i bias = _mm256_set1_epi16(128);
  __m256i us = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u)));
  __m256i vs = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
  us = _mm256_slli_epi16(_mm256_sub_epi16(us, bias), 3);
  vs = _mm256_slli_epi16(_mm256_sub_epi16(vs, bias), 3);
  return {_mm256_mulhi_epi16(vs, _mm256_set1_epi16(kRedFromV)),
          _mm256_mulhi_epi16(us, _mm256_set1_epi16(kGreenFromU)),
          _mm256_mulhi_epi16(vs, _mm256_set1_epi16(kGreenFromV)),
          _mm256_mulhi_epi16(us, _mm256_set1_epi16(kBlueFromU))};
}

// Widens the terms of 16 chroma samples (lanes [0..7 | 8..15]) into the terms of pixels 0..15
// (first) or 16..31 (second), each sample serving two pixels.
inline __m256i Spread(__m256i t, bool second) {
  const __m256i lo = _mm256_unpacklo_epi16(t, t);  // [c0..c3 | c8..c11] doubled
  const __m256i hi = _mm256_unpackhi_epi16(t, t);  // [c4..c7 | c12..c15] doubled
  return second ? _mm256_permute2x128_si256(lo, hi, 0x31) : _mm256_permute2x128_si256(lo, hi, 0x20);
}

inline Terms SpreadAll(const Terms& t, bool second) {
  return {Spread(t.red, second), Spread(t.greenU, second), Spread(t.greenV, second),
          Spread(t.blue, second)};
}

inline void Put(uint8_t* dst, __m256i value) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), value);
}

// 16 pixels.
inline void Store16(__m256i y16, const Terms& t, PixelFormatCode format, uint8_t* dst) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i max = _mm256_set1_epi16(255);
  const __m256i luma = _mm256_mulhi_epi16(_mm256_slli_epi16(y16, 3), _mm256_set1_epi16(kLumaCoef));
  __m256i r = _mm256_adds_epi16(luma, t.red);
  __m256i g = _mm256_adds_epi16(_mm256_adds_epi16(luma, t.greenU), t.greenV);
  __m256i b = _mm256_adds_epi16(luma, t.blue);
  r = _mm256_min_epi16(_mm256_max_epi16(r, zero), max);
  g = _mm256_min_epi16(_mm256_max_epi16(g, zero), max);
  b = _mm256_min_epi16(_mm256_max_epi16(b, zero), max);
  switch (format) {
    case kPixelFormatRgb32:
    case kPixelFormatRgb24: {
      const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
      // The fourth byte of a 32-bit pixel is 0xFF: an ARGB window shows it opaque.
      const __m256i ra = _mm256_or_si256(r, _mm256_set1_epi16(static_cast<int16_t>(0xFF00)));
      const __m256i lo = _mm256_unpacklo_epi16(bg, ra);  // pixels [0..3 | 8..11]
      const __m256i hi = _mm256_unpackhi_epi16(bg, ra);  // pixels [4..7 | 12..15]
      const __m256i first = _mm256_permute2x128_si256(lo, hi, 0x20);
      const __m256i second = _mm256_permute2x128_si256(lo, hi, 0x31);
      if (format == kPixelFormatRgb32) {
        Put(dst, first);
        Put(dst + 32, second);
      } else {
        alignas(32) uint8_t quad[64];
        _mm256_store_si256(reinterpret_cast<__m256i*>(quad), first);
        _mm256_store_si256(reinterpret_cast<__m256i*>(quad + 32), second);
        for (int i = 0; i < 16; ++i) {
          std::memcpy(dst + 3 * i, quad + 4 * i, 3);
        }
      }
      break;
    }
    case kPixelFormatRgb565: {
      const __m256i word = _mm256_or_si256(
          _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(r, _mm256_set1_epi16(0xF8)), 8),
                          _mm256_slli_epi16(_mm256_and_si256(g, _mm256_set1_epi16(0xFC)), 3)),
          _mm256_srli_epi16(b, 3));
      Put(dst, word);
      break;
    }
    case kPixelFormatRgb555: {
      const __m256i word = _mm256_or_si256(
          _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(r, _mm256_set1_epi16(0xF8)), 7),
                          _mm256_slli_epi16(_mm256_and_si256(g, _mm256_set1_epi16(0xF8)), 2)),
          _mm256_srli_epi16(b, 3));
      Put(dst, word);
      break;
    }
    case kPixelFormatNone:
      break;
  }
}

inline void Row32(const uint8_t* y, const Terms& t, PixelFormatCode format, int bpp, uint8_t* d) {
  const __m128i bias = _mm_set1_epi8(16);
  const __m128i a = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), bias);
  const __m128i b = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 16)), bias);
  Store16(_mm256_cvtepu8_epi16(a), SpreadAll(t, false), format, d);
  Store16(_mm256_cvtepu8_epi16(b), SpreadAll(t, true), format, d + 16 * bpp);
}

// The 32-bit layout, the one nearly every X server offers, in its own loop. Luma is widened
// within each 128-bit lane ([0..7 | 16..23] and [8..15 | 24..31]), which is exactly where
// interleaving the chroma terms with themselves puts them, and packing the two halves back to
// bytes restores the order while it clamps to 0..255: no lane crossing until the stores.
template <bool kAround>
inline void Row32Bgra(const uint8_t* y, const Terms& lo, const Terms& hi, uint8_t* d) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i coef = _mm256_set1_epi16(kLumaCoef);
  const __m256i luma8 = _mm256_subs_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y)),
                                         _mm256_set1_epi8(16));
  const __m256i lumaLo =
      _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(luma8, zero), 3), coef);
  const __m256i lumaHi =
      _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_unpackhi_epi8(luma8, zero), 3), coef);
  const __m256i b =
      _mm256_packus_epi16(_mm256_adds_epi16(lumaLo, lo.blue), _mm256_adds_epi16(lumaHi, hi.blue));
  const __m256i g =
      _mm256_packus_epi16(_mm256_adds_epi16(_mm256_adds_epi16(lumaLo, lo.greenU), lo.greenV),
                          _mm256_adds_epi16(_mm256_adds_epi16(lumaHi, hi.greenU), hi.greenV));
  const __m256i r =
      _mm256_packus_epi16(_mm256_adds_epi16(lumaLo, lo.red), _mm256_adds_epi16(lumaHi, hi.red));
  // The fourth byte is 0xFF: an ARGB window shows the pixel opaque.
  const __m256i opaque = _mm256_set1_epi8(static_cast<char>(0xFF));
  const __m256i bgLo = _mm256_unpacklo_epi8(b, g);  // [0..7 | 16..23]
  const __m256i bgHi = _mm256_unpackhi_epi8(b, g);  // [8..15 | 24..31]
  const __m256i raLo = _mm256_unpacklo_epi8(r, opaque);
  const __m256i raHi = _mm256_unpackhi_epi8(r, opaque);
  const __m256i p0 = _mm256_unpacklo_epi16(bgLo, raLo);  // [0..3 | 16..19]
  const __m256i p1 = _mm256_unpackhi_epi16(bgLo, raLo);  // [4..7 | 20..23]
  const __m256i p2 = _mm256_unpacklo_epi16(bgHi, raHi);  // [8..11 | 24..27]
  const __m256i p3 = _mm256_unpackhi_epi16(bgHi, raHi);  // [12..15 | 28..31]
  __m256i* out = reinterpret_cast<__m256i*>(d);
  const auto put = [](__m256i* at, __m256i value) {
    if constexpr (kAround) {
      _mm256_stream_si256(at, value);
    } else {
      _mm256_storeu_si256(at, value);
    }
  };
  put(out, _mm256_permute2x128_si256(p0, p1, 0x20));
  put(out + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
  put(out + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
  put(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

template <bool kAround>
int RowsAvx2Bgra(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                 uint8_t* d0, uint8_t* d1, int count) {
  int x = 0;
  for (; x + 32 <= count; x += 32) {
    // Terms of samples [0..7 | 8..15]; each serves two pixels.
    const Terms t = ChromaTerms(u + x / 2, v + x / 2);
    const Terms lo{_mm256_unpacklo_epi16(t.red, t.red), _mm256_unpacklo_epi16(t.greenU, t.greenU),
                   _mm256_unpacklo_epi16(t.greenV, t.greenV),
                   _mm256_unpacklo_epi16(t.blue, t.blue)};
    const Terms hi{_mm256_unpackhi_epi16(t.red, t.red), _mm256_unpackhi_epi16(t.greenU, t.greenU),
                   _mm256_unpackhi_epi16(t.greenV, t.greenV),
                   _mm256_unpackhi_epi16(t.blue, t.blue)};
    Row32Bgra<kAround>(y0 + x, lo, hi, d0 + static_cast<size_t>(x) * 4);
    if (y1 != nullptr) {
      Row32Bgra<kAround>(y1 + x, lo, hi, d1 + static_cast<size_t>(x) * 4);
    }
  }
  return x;
}

}  // namespace

int RowsAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* d0,
             uint8_t* d1, int count, PixelFormatCode format, bool around) {
  const int bpp = BytesPerPixel(format);
  if (bpp == 0) {
    return 0;
  }
  int x = 0;
  if (format == kPixelFormatRgb32) {
    const bool aligned = reinterpret_cast<uintptr_t>(d0) % 32 == 0 &&
                         (d1 == nullptr || reinterpret_cast<uintptr_t>(d1) % 32 == 0);
    x = around && aligned ? RowsAvx2Bgra<true>(y0, y1, u, v, d0, d1, count)
                          : RowsAvx2Bgra<false>(y0, y1, u, v, d0, d1, count);
  }
  for (; x + 32 <= count; x += 32) {
    const Terms t = ChromaTerms(u + x / 2, v + x / 2);
    Row32(y0 + x, t, format, bpp, d0 + static_cast<size_t>(x) * bpp);
    if (y1 != nullptr) {
      Row32(y1 + x, t, format, bpp, d1 + static_cast<size_t>(x) * bpp);
    }
  }
  // What is left in blocks of 16 goes to the SSE2 kernel.
  return x + RowsSse2(y0 + x, y1 ? y1 + x : nullptr, u + x / 2, v + x / 2,
                      d0 + static_cast<size_t>(x) * bpp,
                      d1 ? d1 + static_cast<size_t>(x) * bpp : nullptr, count - x, format, around);
}

}  // namespace rovik::player::convert
