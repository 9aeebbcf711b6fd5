// Reduction of a planar 4:2:0 picture to a smaller size, done by the player before the colour
// conversion when the window is smaller than the picture: the conversion then writes no more
// pixels than the window shows, and the window system only copies them. The chroma planes come
// out at half the width and the full height, one chroma row per row (as libswscale reduces a
// picture it turns into RGB): halving them down as well would smear colour edges over two rows.
//
// Each axis is filtered with a triangle whose half-width is the reduction ratio (every input
// sample weighs in, as in an area average, with the nearer ones more), in 6-bit fixed point:
// weights are integers from 0 to 64 summing to 64, and each output is (sum + 32) >> 6. Rows are
// filtered first (whole input rows, into a row of input width), then columns. The scalar
// reference and the SIMD paths compute the same integer sums and agree on every byte.
// Beyond a ratio of ScaleAxis::kMostCoarseRatio 6 bits are too coarse for the many inputs of an
// output: such an axis takes 14-bit weights and 32-bit sums (down the rows SSE2 or scalar,
// across a row scalar on every path). Beyond about 127, where libswscale's filters would pass
// 255 taps and it reduces in two steps, the picture is first reduced to the geometric mean of
// the two sizes, with 4:2:0 chroma, then on to the window's. A triangle reaching past both
// ends of an input of three samples or more weighs only the inner ones, each by its own
// weight, as libswscale's do.
// Chroma is filtered at the luma's ratio, each output chroma sample centred where the pixels it
// serves lie on the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "player/media/pixel_format.h"
#include "player/video/convert/color_convert.h"

namespace rovik::player {

// The filter of one axis: for output sample j, `taps` consecutive input samples from start[j]
// with weights[j * stride .. j * stride + taps - 1]. The rest of each run of `stride` weights
// is zero (the SIMD kernels read whole blocks), and start[j] + taps never passes `from`.
struct ScaleAxis {
  static constexpr int kFractionBits = 6;  // every weight fits a signed byte
  static constexpr int kOne = 1 << kFractionBits;
  // Beyond this ratio the axis is `fine`: its weights are in fineWeights (same runs, kFineBits,
  // summing to kFineOne), `weights` is empty and the kernels never see it.
  static constexpr double kMostCoarseRatio = 8;
  static constexpr int kFineBits = 14;
  static constexpr int kFineOne = 1 << kFineBits;

  int32_t from = 0;
  int32_t to = 0;
  double ratio = 1.0;  // input samples per output sample
  bool identity = false;
  bool fine = false;
  int32_t taps = 0;
  int32_t stride = 0;  // taps rounded up to a multiple of 8
  std::vector<int32_t> start;
  std::vector<int8_t> weights;
  std::vector<int16_t> fineWeights;

  // The same filter for whole groups of four outputs, when it has at most four taps and each
  // group's inputs lie within 16 bytes from groupStart[g] (else these are empty): per group,
  // 16 byte positions relative to groupStart[g] and 16 weights, four of each per output.
  static constexpr int kGroupOutputs = 4;
  static constexpr int kGroupTaps = 4;
  static constexpr int kGroupBytes = 16;
  std::vector<int32_t> groupStart;
  std::vector<int8_t> groupShuffle;
  std::vector<int8_t> groupWeights;

  // The filter taking `from` samples to `to` (both at least 1), `ratio` input samples apart
  // (from / to unless given). Equal sizes at a ratio of 1 give the identity; a ratio below 1
  // interpolates between the two nearest samples.
  static ScaleAxis Make(int32_t from, int32_t to);
  static ScaleAxis Make(int32_t from, int32_t to, double ratio);
  bool Identity() const { return identity; }
};

// Scales pictures for one window. Keeps its filters and its output between calls (a new size
// on either side makes new ones). Used by one thread at a time.
class PictureScaler {
 public:
  // `src` reduced to width x height (each at most the picture's); chroma to half the width,
  // rounded up (at most the source's chroma width), and the full height; the full width for
  // odd widths below kEveryColumnBelow. A source without
  // chroma planes gives an output without them. The view is valid until the next call. An
  // empty view when `src` or the size is unusable.
  const I420View& Scale(const I420View& src, int32_t width, int32_t height,
                        ConvertPath path = BestConvertPath());

 private:
  // Scale, with chroma of half the height (4:2:0) when `halfChromaRows` (a first step).
  const I420View& ScaleTo(const I420View& src, int32_t width, int32_t height, ConvertPath path,
                          bool halfChromaRows);
  // The filters of the luma plane, or of both chroma planes.
  struct Filters {
    ScaleAxis columns;
    ScaleAxis rows;
  };
  static void Prepare(Filters& filters, int32_t fromWidth, int32_t fromHeight, int32_t toWidth,
                      int32_t toHeight, double columnRatio, double rowRatio);
  void ScalePlane(const Filters& filters, const uint8_t* src, int32_t srcStride, uint8_t* out,
                  ConvertPath path);

  static constexpr int32_t kRowSlack = 16;
  // A reduction goes through the geometric mean size when a triangle would reach these many
  // samples (twice the ratio, rounded up) or more: libswscale's limits for columns and rows.
  static constexpr int64_t kStepColumnReach = 254;
  static constexpr int64_t kStepRowReach = 256;
  static constexpr int32_t kEveryColumnBelow = 256;

  Filters luma_;
  Filters chroma_;
  std::vector<uint8_t> planes_[3];           // the output planes, rows packed
  std::vector<uint8_t> rowBuffer_;           // one output row filtered down, not yet across
  std::vector<const uint8_t*> rowPointers_;  // the input rows of one output row
  I420View out_;
  std::unique_ptr<PictureScaler> firstStep_;  // reduces first to the geometric mean size
};

}  // namespace rovik::player
