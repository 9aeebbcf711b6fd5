// SSE2 filters: 16 columns of the input rows per step, and four output samples per step across
// a row, each from blocks of 8 weighted input samples. The same integer sums as the scalar
// reference; what is left at a row's end goes to the reference.
#include <emmintrin.h>

#include <cstring>

#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player::scale {

namespace {

// Columns x .. x + 15 of `pairs` pairs of rows, the rows of pair i interleaved and multiplied by
// the two 16-bit weights of weightsOf(i), summed in 32 bits from `half` and shifted down.
template <typename WeightsOf>
inline void SixteenColumns(const uint8_t* const* rows, int pairs, int x, WeightsOf weightsOf,
                           int32_t half, int shift, uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc0 = _mm_set1_epi32(half);
  __m128i acc1 = acc0;
  __m128i acc2 = acc0;
  __m128i acc3 = acc0;
  for (int i = 0; i < pairs; ++i) {
    const __m128i w = weightsOf(i);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * i] + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * i + 1] + x));
    const __m128i alo = _mm_unpacklo_epi8(a, zero);
    const __m128i ahi = _mm_unpackhi_epi8(a, zero);
    const __m128i blo = _mm_unpacklo_epi8(b, zero);
    const __m128i bhi = _mm_unpackhi_epi8(b, zero);
    acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w));
    acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w));
    acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w));
    acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w));
  }
  const __m128i lo = _mm_packs_epi32(_mm_srai_epi32(acc0, shift), _mm_srai_epi32(acc1, shift));
  const __m128i hi = _mm_packs_epi32(_mm_srai_epi32(acc2, shift), _mm_srai_epi32(acc3, shift));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
}

// The common filter sizes get loops of their own, fully unrolled; kPairs / kBlocks of 0 is the
// general loop.
struct Columns {
  template <int kPairs>
  static int Run(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                 uint8_t* out);
};

template <int kPairs>
int Columns::Run(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                 uint8_t* out) {
  const int pairs = kPairs > 0 ? kPairs : (taps + 1) / 2;
  constexpr int kMostPairs = 32;
  if (pairs > kMostPairs) {
    return 0;
  }
  __m128i w[kMostPairs];
  for (int i = 0; i < pairs; ++i) {
    // Two rows at a time: their samples interleaved, multiplied by the pair of weights.
    const uint32_t pair = static_cast<uint8_t>(weights[2 * i]) |
                          (static_cast<uint32_t>(static_cast<uint8_t>(weights[2 * i + 1])) << 16);
    w[i] = _mm_set1_epi32(static_cast<int32_t>(pair));
  }
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    SixteenColumns(
        rows, pairs, x, [&](int i) { return w[i]; }, ScaleAxis::kOne >> 1, ScaleAxis::kFractionBits,
        out);
  }
  return x;
}

}  // namespace

void VerticalSse2(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                  uint8_t* out) {
  VerticalBy<Columns>(rows, weights, taps, width, out);
}

// As Columns::Run, with 16-bit weights (sums of 255 x kFineOne fit 32 bits), any number.
void VerticalFineSse2(const uint8_t* const* rows, const int16_t* weights, int taps, int width,
                      uint8_t* out) {
  const int pairs = (taps + 1) / 2;
  const auto weightsOf = [&](int i) {
    return _mm_set1_epi32(static_cast<int32_t>(
        static_cast<uint16_t>(weights[2 * i]) |
        (static_cast<uint32_t>(static_cast<uint16_t>(weights[2 * i + 1])) << 16)));
  };
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    SixteenColumns(rows, pairs, x, weightsOf, ScaleAxis::kFineOne >> 1, ScaleAxis::kFineBits, out);
  }
  VerticalFineRest(rows, weights, taps, x, width, out);
}

namespace {

// The weighted sum of one output sample in four 32-bit parts.
template <int kBlocks>
inline __m128i Partial(const uint8_t* p, const int8_t* w, int blocks) {
  const int count = kBlocks > 0 ? kBlocks : blocks;
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = _mm_setzero_si128();
  for (int b = 0; b < count; ++b) {
    const __m128i px =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * b)), zero);
    const __m128i weight =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 8 * b)), zero);
    acc = _mm_add_epi32(acc, _mm_madd_epi16(px, weight));
  }
  return acc;
}

template <int kBlocks>
int HorizontalSamples(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                      uint8_t* out) {
  const int stride = axis.stride;
  const int blocks = stride / 8;
  const int32_t* start = axis.start.data();
  const int8_t* weights = axis.weights.data();
  const __m128i half = _mm_set1_epi32(ScaleAxis::kOne >> 1);
  int j = first;
  // Starts only grow along the row: once a block would read past the input, the reference
  // takes the rest.
  for (; j + 4 <= axis.to && start[j + 3] + stride <= readable; j += 4) {
    const int8_t* w = weights + static_cast<ptrdiff_t>(j) * stride;
    const __m128i s0 = Partial<kBlocks>(in + start[j], w, blocks);
    const __m128i s1 = Partial<kBlocks>(in + start[j + 1], w + stride, blocks);
    const __m128i s2 = Partial<kBlocks>(in + start[j + 2], w + 2 * stride, blocks);
    const __m128i s3 = Partial<kBlocks>(in + start[j + 3], w + 3 * stride, blocks);
    // Four sums of four parts each, side by side.
    const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(s0, s1), _mm_unpackhi_epi32(s0, s1));
    const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(s2, s3), _mm_unpackhi_epi32(s2, s3));
    __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
    sum = _mm_srai_epi32(_mm_add_epi32(sum, half), ScaleAxis::kFractionBits);
    const __m128i words = _mm_packs_epi32(sum, sum);
    const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(out + j, &bytes, 4);
  }
  return j;
}

}  // namespace

void HorizontalSse2(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                    uint8_t* out) {
  int j = first;
  switch (axis.stride / 8) {
    case 1:
      j = HorizontalSamples<1>(axis, in, readable, first, out);
      break;
    case 2:
      j = HorizontalSamples<2>(axis, in, readable, first, out);
      break;
    default:
      j = HorizontalSamples<0>(axis, in, readable, first, out);
      break;
  }
  HorizontalScalar(axis, in, readable, j, out);
}

}  // namespace rovik::player::scale
