// The filter kernels behind PictureScaler. Not for use outside the scaler.
#pragma once

#include <algorithm>
#include <cstdint>

#include "player/color_convert.h"
#include "player/picture_scaler.h"

namespace qxplay::scale {

inline uint8_t Rounded(int32_t sum) {
  return static_cast<uint8_t>(
      std::clamp((sum + (ScaleAxis::kOne >> 1)) >> ScaleAxis::kFractionBits, 0, 255));
}

// Columns [from, width) of a vertical filter, sample by sample: the reference, and the end of a
// row the SIMD kernels leave.
inline void VerticalRest(const uint8_t* const* rows, const int8_t* weights, int taps, int from,
                         int width, uint8_t* out) {
  for (int x = from; x < width; ++x) {
    int32_t sum = 0;
    for (int i = 0; i < taps; ++i) {
      sum += rows[i][x] * weights[i];
    }
    out[x] = Rounded(sum);
  }
}

// Every sum of weighted samples is at most 255 x 64: 16-bit lanes hold it.
// out[x] for x < width: the input rows weighted. `rows` holds `taps` rows, and one more (any
// readable row, weighed 0) when taps is odd; `weights` holds taps rounded up to even entries.
using VerticalFilter = void (*)(const uint8_t* const* rows, const int8_t* weights, int taps,
                                int width, uint8_t* out);

// out[j] for first <= j < axis.to: in[start[j] .. start[j] + taps - 1] weighted by
// weights[j * stride ..] (`axis`'s tables). Reads nothing of `in` at or past `readable`.
using HorizontalFilter = void (*)(const ScaleAxis& axis, const uint8_t* in, int readable,
                                  int first, uint8_t* out);

struct Filters {
  VerticalFilter vertical;
  HorizontalFilter horizontal;
};

void VerticalScalar(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                    uint8_t* out);
void HorizontalScalar(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                      uint8_t* out);
void VerticalSse2(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                  uint8_t* out);
void HorizontalSse2(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                    uint8_t* out);
void VerticalAvx2(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                  uint8_t* out);
void HorizontalAvx2(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                    uint8_t* out);

// The filters of a path when this build and processor offer them, else the scalar reference
// (picture_scaler_x86.cpp or picture_scaler_generic.cpp, chosen by the build).
Filters FiltersFor(ConvertPath path);

}  // namespace qxplay::scale
