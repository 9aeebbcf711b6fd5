// The filter kernels behind PictureScaler. Not for use outside the scaler.
//
// What the kernels rely on in a ScaleAxis (ScaleAxis::Make keeps it; a change there must keep it
// or change every kernel with it):
// - weights holds `to` runs of `stride` entries, run j at j * stride. stride is taps rounded up
//   to a multiple of 8 and the entries of a run past its taps are 0: the kernels multiply whole
//   blocks of 8 (and pairs of rows), and what they read there must weigh nothing.
// - Every weight lies in 0 .. kOne and every run sums to exactly kOne: the kernels widen weights
//   as unsigned bytes, and a sum of 255 x kOne fits their 16-bit lanes.
// - start[j] + taps <= from: a run never reads past the input. A run may start before its
//   first weighted sample (its leading weights are 0) to keep that.
// - start never decreases along the axis: a kernel checks only the last output of a step
//   against the readable end and leaves the rest of the row to the reference.
// - The identity (Identity()) is copied, never filtered: its weights are all 0.
// - A fine axis (ScaleAxis::fine) has its runs in fineWeights (14 bits, summing to kFineOne,
//   the same layout) and none in weights: only VerticalFineFilter and the scalar
//   HorizontalFine take it.
// - groupStart, groupShuffle and groupWeights are either empty or cover to / 4 whole groups,
//   the outputs past them left to the per-output path: group g's four outputs k take input
//   bytes groupStart[g] + groupShuffle[16 g + 4 k + t] with weight groupWeights[16 g + 4 k + t]
//   for t < 4, all within the 16 bytes from groupStart[g]; they exist only for taps <= 4.
#pragma once

#include <cstdint>

#include "player/video/convert/color_convert.h"
#include "player/video/convert/picture_scaler.h"

namespace rovik::player::scale {

// Columns [from, width) of a vertical filter, sample by sample: the reference, and the end of a
// row the SIMD kernels leave. Defined with the reference (picture_scaler.cpp), which is built for
// every processor: an inline copy here, built into a kernel's file with that kernel's
// instruction set, could be the one the linker keeps for all.
void VerticalRest(const uint8_t* const* rows, const int8_t* weights, int taps, int from, int width,
                  uint8_t* out);
void VerticalFineRest(const uint8_t* const* rows, const int16_t* weights, int taps, int from,
                      int width, uint8_t* out);

// A vertical filter from a kernel's column loop, `Columns::Run<kPairs>` (columns done, from 0),
// with the pair count a constant for the common filters (1 to 4 pairs of taps; 0: any): the
// columns the loop leaves go to the reference.
template <typename Columns>
void VerticalBy(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                uint8_t* out) {
  using Run = int (*)(const uint8_t* const*, const int8_t*, int, int, uint8_t*);
  static constexpr Run kRuns[] = {&Columns::template Run<0>, &Columns::template Run<1>,
                                  &Columns::template Run<2>, &Columns::template Run<3>,
                                  &Columns::template Run<4>};
  const int pairs = (taps + 1) / 2;
  const int x = kRuns[pairs < 5 ? pairs : 0](rows, weights, taps, width, out);
  VerticalRest(rows, weights, taps, x, width, out);
}

// Every sum of weighted samples is at most 255 x 64: 16-bit lanes hold it.
// out[x] for x < width: the input rows weighted. `rows` holds `taps` rows, and one more (any
// readable row, weighed 0) when taps is odd; `weights` holds taps rounded up to even entries.
using VerticalFilter = void (*)(const uint8_t* const* rows, const int8_t* weights, int taps,
                                int width, uint8_t* out);

// out[j] for first <= j < axis.to: in[start[j] .. start[j] + taps - 1] weighted by
// weights[j * stride ..] (`axis`'s tables). Reads nothing of `in` at or past `readable`.
using HorizontalFilter = void (*)(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                                  uint8_t* out);

// A VerticalFilter for fine axes: 14-bit weights, 32-bit sums.
using VerticalFineFilter = void (*)(const uint8_t* const* rows, const int16_t* weights, int taps,
                                    int width, uint8_t* out);

struct Filters {
  VerticalFilter vertical;
  HorizontalFilter horizontal;
  VerticalFineFilter verticalFine;
};

// A fine axis across a row, for every path: out[j] for j < axis.to.
void HorizontalFine(const ScaleAxis& axis, const uint8_t* in, uint8_t* out);

void VerticalScalar(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                    uint8_t* out);
void HorizontalScalar(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                      uint8_t* out);
void VerticalFineScalar(const uint8_t* const* rows, const int16_t* weights, int taps, int width,
                        uint8_t* out);
void VerticalFineSse2(const uint8_t* const* rows, const int16_t* weights, int taps, int width,
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

}  // namespace rovik::player::scale
