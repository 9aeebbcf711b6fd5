// x86-64: SSE2 non-temporal stores, which every x86-64 processor has.
#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "player/picture_copy.h"

namespace qxplay {

void StreamCopyPlane(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                     int32_t width, int32_t rows) {
  if (dst == nullptr || src == nullptr || width <= 0 || rows <= 0) {
    return;
  }
  for (int32_t row = 0; row < rows; ++row) {
    uint8_t* d = dst + static_cast<ptrdiff_t>(row) * dstStride;
    const uint8_t* s = src + static_cast<ptrdiff_t>(row) * srcStride;
    int32_t x = 0;
    if (reinterpret_cast<uintptr_t>(d) % 16 == 0) {
      for (; x + 64 <= width; x += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 32));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + x), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + x + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + x + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + x + 48), e);
      }
      for (; x + 16 <= width; x += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + x),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)));
      }
    }
    std::memcpy(d + x, s + x, static_cast<size_t>(width - x));
  }
}

void StreamCopyDone() { _mm_sfence(); }

}  // namespace qxplay
