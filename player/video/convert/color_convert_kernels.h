// The row kernels behind ConvertI420. Not for use outside the conversion.
#pragma once

#include <algorithm>
#include <cstdint>

#include "player/media/pixel_format.h"
#include "player/video/convert/color_convert.h"

namespace rovik::player::convert {

inline constexpr int16_t kLumaCoef = 9576;
inline constexpr int16_t kRedFromV = 13123;
inline constexpr int16_t kGreenFromU = -3218;
inline constexpr int16_t kGreenFromV = -6686;
inline constexpr int16_t kBlueFromU = 16591;

inline int16_t MulHigh(int16_t a, int16_t b) {
  return static_cast<int16_t>((static_cast<int32_t>(a) * b) >> 16);
}
inline int16_t AddSat16(int16_t a, int16_t b) {
  return static_cast<int16_t>(std::clamp(static_cast<int32_t>(a) + b, -32768, 32767));
}
inline uint8_t Clamp255(int16_t x) { return static_cast<uint8_t>(std::clamp<int16_t>(x, 0, 255)); }

// One pixel by the reference arithmetic.
inline void ConvertPixel(uint8_t y, uint8_t u, uint8_t v, PixelFormatCode format, uint8_t* dst) {
  const int16_t ys = static_cast<int16_t>((y > 16 ? y - 16 : 0) << 3);
  const int16_t us = static_cast<int16_t>((u - 128) * 8);
  const int16_t vs = static_cast<int16_t>((v - 128) * 8);
  const int16_t luma = MulHigh(ys, kLumaCoef);
  const uint8_t r = Clamp255(AddSat16(luma, MulHigh(vs, kRedFromV)));
  const uint8_t g =
      Clamp255(AddSat16(AddSat16(luma, MulHigh(us, kGreenFromU)), MulHigh(vs, kGreenFromV)));
  const uint8_t b = Clamp255(AddSat16(luma, MulHigh(us, kBlueFromU)));
  PackPixel(format, r, g, b, dst);
}

// Converts the first `count` pixels of row y0 (and of row y1 when it is not null) sharing the
// chroma row u, v, with `count` a multiple of the kernel's block and u, v holding count / 2
// samples. Returns the number of pixels converted (a multiple of the block, at most count).
// With `around`, the 32-bit layout is written with non-temporal stores where d0 and d1 lie on
// 32-byte boundaries (the AVX2 kernel; the others write through the caches), not fenced: the
// caller fences once when its last row is written (FenceStores).
using RowKernel = int (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                          uint8_t* d0, uint8_t* d1, int count, PixelFormatCode format, bool around);

int RowsSse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* d0,
             uint8_t* d1, int count, PixelFormatCode format, bool around);
int RowsAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v, uint8_t* d0,
             uint8_t* d1, int count, PixelFormatCode format, bool around);

// Orders the non-temporal stores made so far before any later store, so that whoever is told
// of the picture next (the window system, by a message) reads it whole.
void FenceStores();

// The SIMD kernel of a path when this build and processor offer it, else null
// (color_convert_x86.cpp or color_convert_generic.cpp, chosen by the build).
RowKernel KernelFor(ConvertPath path);

}  // namespace rovik::player::convert
