#include "player/video/convert/picture_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player {
namespace scale {
namespace {

// A weighted sum in kBits fixed point, rounded to a sample.
template <int kBits>
uint8_t Rounded(int32_t sum) {
  return static_cast<uint8_t>(std::clamp((sum + (int32_t{1} << (kBits - 1))) >> kBits, 0, 255));
}

// Columns [from, width) down the rows.
template <int kBits, typename Weight>
void DownRows(const uint8_t* const* rows, const Weight* weights, int taps, int from, int width,
              uint8_t* out) {
  for (int x = from; x < width; ++x) {
    int32_t sum = 0;
    for (int i = 0; i < taps; ++i) {
      sum += rows[i][x] * weights[i];
    }
    out[x] = Rounded<kBits>(sum);
  }
}

// Outputs [first, axis.to) across a row.
template <int kBits, typename Weight>
void AcrossRow(const ScaleAxis& axis, const std::vector<Weight>& weights, const uint8_t* in,
               int first, uint8_t* out) {
  for (int j = first; j < axis.to; ++j) {
    const uint8_t* p = in + axis.start[j];
    const Weight* w = &weights[static_cast<size_t>(j) * axis.stride];
    int32_t sum = 0;
    for (int i = 0; i < axis.taps; ++i) {
      sum += p[i] * w[i];
    }
    out[j] = Rounded<kBits>(sum);
  }
}

}  // namespace

void VerticalRest(const uint8_t* const* rows, const int8_t* weights, int taps, int from, int width,
                  uint8_t* out) {
  DownRows<ScaleAxis::kFractionBits>(rows, weights, taps, from, width, out);
}

void VerticalScalar(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                    uint8_t* out) {
  VerticalRest(rows, weights, taps, 0, width, out);
}

void HorizontalScalar(const ScaleAxis& axis, const uint8_t* in, int /*readable*/, int first,
                      uint8_t* out) {
  AcrossRow<ScaleAxis::kFractionBits>(axis, axis.weights, in, first, out);
}

// Fine axes: 14-bit weights, sums in 32 bits.
void VerticalFineRest(const uint8_t* const* rows, const int16_t* weights, int taps, int from,
                      int width, uint8_t* out) {
  DownRows<ScaleAxis::kFineBits>(rows, weights, taps, from, width, out);
}

void VerticalFineScalar(const uint8_t* const* rows, const int16_t* weights, int taps, int width,
                        uint8_t* out) {
  VerticalFineRest(rows, weights, taps, 0, width, out);
}

void HorizontalFine(const ScaleAxis& axis, const uint8_t* in, uint8_t* out) {
  AcrossRow<ScaleAxis::kFineBits>(axis, axis.fineWeights, in, 0, out);
}

}  // namespace scale

ScaleAxis ScaleAxis::Make(int32_t from, int32_t to) {
  return Make(from, to, from > 0 && to > 0 ? static_cast<double>(from) / to : 1.0);
}

namespace {

// The triangle of every output over the input, in floating point: output j weighs the samples
// from first[j] on with weights[j], samples beyond the edges counted as the edge sample.
struct TriangleWeights {
  std::vector<int32_t> first;
  std::vector<std::vector<double>> weights;
  int32_t taps = 1;  // the longest run
};

// Copied, never filtered: one tap per output, on its own input sample.
void MakeIdentity(ScaleAxis& axis) {
  axis.identity = true;
  axis.taps = 1;
  axis.stride = 8;
  axis.start.resize(axis.to);
  for (int32_t j = 0; j < axis.to; ++j) {
    axis.start[j] = j;
  }
  axis.weights.assign(static_cast<size_t>(axis.to) * axis.stride, 0);
}

// Output sample j is centred at (j + 0.5) * ratio - 0.5 on the input; the triangle reaches
// `ratio` input samples either side, or one when enlarging (between the two nearest).
TriangleWeights Triangles(int32_t from, int32_t to, double ratio) {
  const double radius = std::max(ratio, 1.0);
  TriangleWeights triangles;
  triangles.first.resize(to);
  triangles.weights.resize(to);
  for (int32_t j = 0; j < to; ++j) {
    const double centre = (j + 0.5) * ratio - 0.5;
    int64_t lo = static_cast<int64_t>(std::floor(centre - radius)) + 1;
    int64_t hi = static_cast<int64_t>(std::ceil(centre + radius)) - 1;
    if (lo < 0 && hi >= from && from >= 3) {
      // Past both ends: the inner samples only, nothing piled on the edges.
      lo = 1;
      hi = from - 2;
    }
    const int32_t clampedLo = static_cast<int32_t>(std::clamp<int64_t>(lo, 0, from - 1));
    const int32_t clampedHi = static_cast<int32_t>(std::clamp<int64_t>(hi, 0, from - 1));
    triangles.first[j] = clampedLo;
    std::vector<double>& dense = triangles.weights[j];
    dense.assign(clampedHi - clampedLo + 1, 0.0);
    for (int64_t i = lo; i <= hi; ++i) {
      const double weight = 1.0 - std::abs(static_cast<double>(i) - centre) / radius;
      if (weight > 0) {
        const int64_t at = std::clamp<int64_t>(i, 0, from - 1);
        dense[at - clampedLo] += weight;
      }
    }
    triangles.taps = std::max(triangles.taps, clampedHi - clampedLo + 1);
  }
  return triangles;
}

// The integer runs of the kernels (picture_scaler_kernels.h): each output's weights rounded to
// sum to exactly `one`, placed in its run of `stride` at the offset of its first sample from the
// run's start, which lies early enough for the run to end inside the input.
template <typename Weight>
void QuantizeRuns(const TriangleWeights& triangles, int32_t one, ScaleAxis& axis,
                  std::vector<Weight>& weights) {
  axis.taps = std::min(triangles.taps, axis.from);
  axis.stride = (axis.taps + 7) & ~7;
  axis.start.resize(axis.to);
  weights.assign(static_cast<size_t>(axis.to) * axis.stride, 0);
  for (int32_t j = 0; j < axis.to; ++j) {
    const std::vector<double>& dense = triangles.weights[j];
    const int32_t start = std::min(triangles.first[j], axis.from - axis.taps);
    axis.start[j] = start;
    double total = 0;
    for (double w : dense) {
      total += w;
    }
    std::vector<int32_t> q(dense.size());
    int32_t sum = 0;
    size_t largest = 0;
    for (size_t k = 0; k < q.size(); ++k) {
      q[k] = static_cast<int32_t>(std::lround(dense[k] / total * one));
      sum += q[k];
      if (q[k] > q[largest]) {
        largest = k;
      }
    }
    q[largest] += one - sum;  // the sum is exactly one
    Weight* out = &weights[static_cast<size_t>(j) * axis.stride + (triangles.first[j] - start)];
    for (size_t k = 0; k < q.size(); ++k) {
      out[k] = static_cast<Weight>(q[k]);
    }
  }
}

// Narrow filters (at most kGroupTaps taps): groups of four outputs whose inputs lie within one
// 16-byte load, when every group's do; else the group tables stay empty.
void MakeGroups(ScaleAxis& axis) {
  constexpr int32_t kOutputs = ScaleAxis::kGroupOutputs;
  constexpr int32_t kTaps = ScaleAxis::kGroupTaps;
  constexpr int32_t kBytes = ScaleAxis::kGroupBytes;
  const int32_t groups = axis.to / kOutputs;
  for (int32_t g = 0; g < groups; ++g) {
    if (axis.start[kOutputs * g + 3] + kTaps - axis.start[kOutputs * g] > kBytes) {
      return;
    }
  }
  axis.groupStart.resize(groups);
  axis.groupShuffle.resize(static_cast<size_t>(groups) * kBytes);
  axis.groupWeights.resize(static_cast<size_t>(groups) * kBytes);
  for (int32_t g = 0; g < groups; ++g) {
    const int32_t base = axis.start[kOutputs * g];
    axis.groupStart[g] = base;
    for (int k = 0; k < kOutputs; ++k) {
      const int32_t j = kOutputs * g + k;
      for (int t = 0; t < kTaps; ++t) {
        const size_t at = static_cast<size_t>(g) * kBytes + kTaps * k + t;
        axis.groupShuffle[at] = static_cast<int8_t>(axis.start[j] - base + t);
        axis.groupWeights[at] = axis.weights[static_cast<size_t>(j) * axis.stride + t];
      }
    }
  }
}

}  // namespace

ScaleAxis ScaleAxis::Make(int32_t from, int32_t to, double ratio) {
  ScaleAxis axis;
  axis.from = from;
  axis.to = to;
  axis.ratio = ratio;
  if (from <= 0 || to <= 0 || !(ratio > 0)) {
    return axis;
  }
  if (from == to && ratio == 1.0) {
    MakeIdentity(axis);
    return axis;
  }
  if (ratio > kMostCoarseRatio) {
    axis.fine = true;
    QuantizeRuns(Triangles(from, to, ratio), kFineOne, axis, axis.fineWeights);
    return axis;
  }
  QuantizeRuns(Triangles(from, to, ratio), kOne, axis, axis.weights);
  if (axis.taps <= kGroupTaps) {
    MakeGroups(axis);
  }
  return axis;
}

void PictureScaler::Prepare(Filters& filters, int32_t fromWidth, int32_t fromHeight,
                            int32_t toWidth, int32_t toHeight, double columnRatio,
                            double rowRatio) {
  const auto keep = [](const ScaleAxis& axis, int32_t from, int32_t to, double ratio) {
    return axis.from == from && axis.to == to && axis.ratio == ratio;
  };
  if (!keep(filters.columns, fromWidth, toWidth, columnRatio)) {
    filters.columns = ScaleAxis::Make(fromWidth, toWidth, columnRatio);
  }
  if (!keep(filters.rows, fromHeight, toHeight, rowRatio)) {
    filters.rows = ScaleAxis::Make(fromHeight, toHeight, rowRatio);
  }
}

void PictureScaler::ScalePlane(const Filters& filters, const uint8_t* src, int32_t srcStride,
                               uint8_t* plane, ConvertPath path) {
  const scale::Filters kernels = scale::FiltersFor(path);
  const ScaleAxis& columns = filters.columns;
  const ScaleAxis& rows = filters.rows;
  // Room past the filtered row lets the wide kernels take their last windows whole: what they
  // read there is weighed 0 (every run of taps ends inside the row).
  if (rowBuffer_.size() < static_cast<size_t>(columns.from) + kRowSlack) {
    rowBuffer_.resize(static_cast<size_t>(columns.from) + kRowSlack);
  }
  rowPointers_.resize(static_cast<size_t>(rows.taps) + 1);
  for (int32_t j = 0; j < rows.to; ++j) {
    uint8_t* out = plane + static_cast<size_t>(j) * columns.to;
    const uint8_t* row = nullptr;
    if (rows.Identity()) {
      row = src + static_cast<ptrdiff_t>(j) * srcStride;
    } else {
      for (int32_t i = 0; i < rows.taps; ++i) {
        rowPointers_[i] = src + static_cast<ptrdiff_t>(rows.start[j] + i) * srcStride;
      }
      rowPointers_[rows.taps] = rowPointers_[rows.taps - 1];  // weighed 0 when taps is odd
      uint8_t* filtered = columns.Identity() ? out : rowBuffer_.data();
      const size_t run = static_cast<size_t>(j) * rows.stride;
      if (rows.fine) {
        kernels.verticalFine(rowPointers_.data(), &rows.fineWeights[run], rows.taps, columns.from,
                             filtered);
      } else {
        kernels.vertical(rowPointers_.data(), &rows.weights[run], rows.taps, columns.from,
                         filtered);
      }
      row = filtered;
    }
    if (columns.Identity()) {
      if (row != out) {
        std::memcpy(out, row, static_cast<size_t>(columns.to));
      }
    } else if (columns.fine) {
      scale::HorizontalFine(columns, row, out);
    } else {
      const int32_t readable = row == rowBuffer_.data() ? columns.from + kRowSlack : columns.from;
      kernels.horizontal(columns, row, readable, 0, out);
    }
  }
}

const I420View& PictureScaler::Scale(const I420View& source, int32_t width, int32_t height,
                                     ConvertPath path) {
  return ScaleTo(source, width, height, path, false);
}

const I420View& PictureScaler::ScaleTo(const I420View& source, int32_t width, int32_t height,
                                       ConvertPath path, bool halfChromaRows) {
  out_ = I420View{};
  if (source.y == nullptr || source.width <= 0 || source.height <= 0 ||
      source.yStride < source.width || width <= 0 || height <= 0 || width > source.width ||
      height > source.height) {
    return out_;
  }
  // Twice the ratio, rounded up, at or beyond the reach: first to the geometric mean size.
  const I420View* from = &source;
  if (2 * static_cast<int64_t>(source.width) > (kStepColumnReach - 1) * width ||
      2 * static_cast<int64_t>(source.height) > (kStepRowReach - 1) * height) {
    const auto mean = [](int32_t a, int32_t b) {
      return static_cast<int32_t>(std::sqrt(static_cast<double>(a) * b));
    };
    if (!firstStep_) {
      firstStep_ = std::make_unique<PictureScaler>();
    }
    from = &firstStep_->ScaleTo(source, mean(source.width, width), mean(source.height, height),
                                path, true);
  }
  const I420View& src = *from;
  const bool chroma = src.chromaWidth > 0 && src.chromaHeight > 0 && src.u != nullptr &&
                      src.v != nullptr && src.uStride >= src.chromaWidth &&
                      src.vStride >= src.chromaWidth;
  const double columnRatio = static_cast<double>(src.width) / width;
  const double rowRatio = static_cast<double>(src.height) / height;
  Prepare(luma_, src.width, src.height, width, height, columnRatio, rowRatio);
  planes_[0].resize(static_cast<size_t>(width) * height);
  ScalePlane(luma_, src.y, src.yStride, planes_[0].data(), path);
  I420View out;
  out.y = planes_[0].data();
  out.yStride = width;
  out.width = width;
  out.height = height;
  if (chroma) {
    // Narrow windows of odd width get a chroma sample for every column: a pair there spans a
    // large part of the picture, and the last column would stand for a pair it is only half of.
    const bool everyColumn = !halfChromaRows && width % 2 == 1 && width < kEveryColumnBelow;
    const int32_t chromaWidth = everyColumn ? width : std::min((width + 1) / 2, src.chromaWidth);
    const int32_t chromaHeight =
        halfChromaRows ? std::min((height + 1) / 2, src.chromaHeight) : height;
    // Chroma samples sit between the luma pairs they serve: an output chroma column lies on
    // the source chroma plane where its luma pair lies on the source picture, so the columns
    // take the luma's ratio (not the ratio of the two chroma widths, which differ from it for
    // odd widths and would shift colour against the picture towards the right). Rows are
    // spread to one chroma row per row (but for a first step): half the luma's ratio from a
    // plane of half height.
    const bool sourceEveryRow = src.chromaHeight >= src.height;
    const double chromaRowRatio =
        rowRatio * (sourceEveryRow ? 1.0 : 0.5) / (halfChromaRows ? 0.5 : 1.0);
    const bool sourceEveryColumn = src.width > 1 && src.chromaWidth >= src.width;
    const double chromaColumnRatio =
        columnRatio * (sourceEveryColumn ? 1.0 : 0.5) / (everyColumn ? 1.0 : 0.5);
    Prepare(chroma_, src.chromaWidth, src.chromaHeight, chromaWidth, chromaHeight,
            chromaColumnRatio, chromaRowRatio);
    const uint8_t* sources[2] = {src.u, src.v};
    const int32_t strides[2] = {src.uStride, src.vStride};
    for (int p = 1; p <= 2; ++p) {
      planes_[p].resize(static_cast<size_t>(chromaWidth) * chromaHeight);
      ScalePlane(chroma_, sources[p - 1], strides[p - 1], planes_[p].data(), path);
    }
    out.u = planes_[1].data();
    out.v = planes_[2].data();
    out.uStride = chromaWidth;
    out.vStride = chromaWidth;
    out.chromaWidth = chromaWidth;
    out.chromaHeight = chromaHeight;
  }
  out_ = out;
  return out_;
}

}  // namespace rovik::player
