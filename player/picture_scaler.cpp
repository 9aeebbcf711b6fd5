#include "player/picture_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "player/picture_scaler_kernels.h"

namespace qxplay {
namespace scale {
namespace {

uint8_t Rounded(int32_t sum) {
  return static_cast<uint8_t>(
      std::clamp((sum + (ScaleAxis::kOne >> 1)) >> ScaleAxis::kFractionBits, 0, 255));
}

}  // namespace

void VerticalRest(const uint8_t* const* rows, const int8_t* weights, int taps, int from,
                  int width, uint8_t* out) {
  for (int x = from; x < width; ++x) {
    int32_t sum = 0;
    for (int i = 0; i < taps; ++i) {
      sum += rows[i][x] * weights[i];
    }
    out[x] = Rounded(sum);
  }
}

void VerticalScalar(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                    uint8_t* out) {
  VerticalRest(rows, weights, taps, 0, width, out);
}

void HorizontalScalar(const ScaleAxis& axis, const uint8_t* in, int /*readable*/, int first,
                      uint8_t* out) {
  for (int j = first; j < axis.to; ++j) {
    const uint8_t* p = in + axis.start[j];
    const int8_t* w = &axis.weights[static_cast<size_t>(j) * axis.stride];
    int32_t sum = 0;
    for (int i = 0; i < axis.taps; ++i) {
      sum += p[i] * w[i];
    }
    out[j] = Rounded(sum);
  }
}

}  // namespace scale

ScaleAxis ScaleAxis::Make(int32_t from, int32_t to) {
  ScaleAxis axis;
  axis.from = from;
  axis.to = to;
  if (from <= 0 || to <= 0) {
    return axis;
  }
  // Output sample j is centred at (j + 0.5) * ratio - 0.5 on the input; the triangle reaches
  // `ratio` input samples either side. Samples beyond the edges count as the edge sample.
  if (from == to) {
    // Copied, never filtered.
    axis.taps = 1;
    axis.stride = 8;
    axis.start.resize(to);
    for (int32_t j = 0; j < to; ++j) {
      axis.start[j] = j;
    }
    axis.weights.assign(static_cast<size_t>(to) * axis.stride, 0);
    return axis;
  }
  const double ratio = static_cast<double>(from) / to;
  const double radius = ratio;
  std::vector<int32_t> first(to);
  std::vector<std::vector<double>> dense(to);
  int32_t taps = 1;
  for (int32_t j = 0; j < to; ++j) {
    const double centre = (j + 0.5) * ratio - 0.5;
    const int64_t lo = static_cast<int64_t>(std::floor(centre - radius)) + 1;
    const int64_t hi = static_cast<int64_t>(std::ceil(centre + radius)) - 1;
    const int32_t clampedLo = static_cast<int32_t>(std::clamp<int64_t>(lo, 0, from - 1));
    const int32_t clampedHi = static_cast<int32_t>(std::clamp<int64_t>(hi, 0, from - 1));
    first[j] = clampedLo;
    dense[j].assign(clampedHi - clampedLo + 1, 0.0);
    for (int64_t i = lo; i <= hi; ++i) {
      const double weight = 1.0 - std::abs(static_cast<double>(i) - centre) / radius;
      if (weight > 0) {
        const int64_t at = std::clamp<int64_t>(i, 0, from - 1);
        dense[j][at - clampedLo] += weight;
      }
    }
    taps = std::max(taps, clampedHi - clampedLo + 1);
  }
  axis.taps = std::min(taps, from);
  axis.stride = (axis.taps + 7) & ~7;
  axis.start.resize(to);
  axis.weights.assign(static_cast<size_t>(to) * axis.stride, 0);
  for (int32_t j = 0; j < to; ++j) {
    // Every run starts early enough to end inside the input.
    const int32_t start = std::min(first[j], from - axis.taps);
    axis.start[j] = start;
    double total = 0;
    for (double w : dense[j]) {
      total += w;
    }
    std::vector<int32_t> q(dense[j].size());
    int32_t sum = 0;
    size_t largest = 0;
    for (size_t k = 0; k < q.size(); ++k) {
      q[k] = static_cast<int32_t>(std::lround(dense[j][k] / total * kOne));
      sum += q[k];
      if (q[k] > q[largest]) {
        largest = k;
      }
    }
    q[largest] += kOne - sum;  // the sum is exactly one
    int8_t* out = &axis.weights[static_cast<size_t>(j) * axis.stride + (first[j] - start)];
    for (size_t k = 0; k < q.size(); ++k) {
      out[k] = static_cast<int8_t>(q[k]);
    }
  }
  // Narrow filters: groups of four outputs whose inputs lie within one 16-byte load.
  if (axis.taps <= kGroupTaps) {
    const int32_t groups = to / kGroupOutputs;
    bool fits = true;
    for (int32_t g = 0; g < groups && fits; ++g) {
      fits = axis.start[kGroupOutputs * g + 3] + kGroupTaps - axis.start[kGroupOutputs * g] <=
             kGroupBytes;
    }
    if (fits) {
      axis.groupStart.resize(groups);
      axis.groupShuffle.resize(static_cast<size_t>(groups) * kGroupBytes);
      axis.groupWeights.resize(static_cast<size_t>(groups) * kGroupBytes);
      for (int32_t g = 0; g < groups; ++g) {
        const int32_t base = axis.start[kGroupOutputs * g];
        axis.groupStart[g] = base;
        for (int k = 0; k < kGroupOutputs; ++k) {
          const int32_t j = kGroupOutputs * g + k;
          for (int t = 0; t < kGroupTaps; ++t) {
            const size_t at = static_cast<size_t>(g) * kGroupBytes + kGroupTaps * k + t;
            axis.groupShuffle[at] = static_cast<int8_t>(axis.start[j] - base + t);
            axis.groupWeights[at] = axis.weights[static_cast<size_t>(j) * axis.stride + t];
          }
        }
      }
    }
  }
  return axis;
}

void PictureScaler::Prepare(Filters& filters, int32_t fromWidth, int32_t fromHeight,
                            int32_t toWidth, int32_t toHeight) {
  if (filters.columns.from != fromWidth || filters.columns.to != toWidth) {
    filters.columns = ScaleAxis::Make(fromWidth, toWidth);
  }
  if (filters.rows.from != fromHeight || filters.rows.to != toHeight) {
    filters.rows = ScaleAxis::Make(fromHeight, toHeight);
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
      kernels.vertical(rowPointers_.data(), &rows.weights[static_cast<size_t>(j) * rows.stride],
                       rows.taps, columns.from, filtered);
      row = filtered;
    }
    if (columns.Identity()) {
      if (row != out) {
        std::memcpy(out, row, static_cast<size_t>(columns.to));
      }
    } else {
      const int32_t readable = row == rowBuffer_.data() ? columns.from + kRowSlack : columns.from;
      kernels.horizontal(columns, row, readable, 0, out);
    }
  }
}

const I420View& PictureScaler::Scale(const I420View& src, int32_t width, int32_t height,
                                     ConvertPath path) {
  out_ = I420View{};
  if (src.y == nullptr || src.width <= 0 || src.height <= 0 || src.yStride < src.width ||
      width <= 0 || height <= 0 || width > src.width || height > src.height) {
    return out_;
  }
  const bool chroma = src.chromaWidth > 0 && src.chromaHeight > 0 && src.u != nullptr &&
                      src.v != nullptr && src.uStride >= src.chromaWidth &&
                      src.vStride >= src.chromaWidth;
  Prepare(luma_, src.width, src.height, width, height);
  planes_[0].resize(static_cast<size_t>(width) * height);
  ScalePlane(luma_, src.y, src.yStride, planes_[0].data(), path);
  I420View out;
  out.y = planes_[0].data();
  out.yStride = width;
  out.width = width;
  out.height = height;
  if (chroma) {
    const int32_t chromaWidth = std::min((width + 1) / 2, src.chromaWidth);
    const int32_t chromaHeight = height;
    Prepare(chroma_, src.chromaWidth, src.chromaHeight, chromaWidth, chromaHeight);
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

}  // namespace qxplay
