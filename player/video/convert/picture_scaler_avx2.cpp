// AVX2 filters: samples and weights multiplied as bytes into 16-bit sums (every sum fits, see
// picture_scaler_kernels.h). Down the rows 32 columns per step; across a row 8 output samples
// per step: shuffled out of two 16-byte loads for filters of up to four taps, gathered window
// by window for up to eight, the SSE2 filter for wider ones. The
// same integer sums as the scalar reference. Built with -mavx2 and only called when the
// processor reports AVX2.
#include <immintrin.h>

#include <cstring>

#include "player/video/convert/picture_scaler_kernels.h"

namespace rovik::player::scale {
namespace {

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
  __m256i w[kMostPairs];
  for (int i = 0; i < pairs; ++i) {
    // Two rows at a time: their samples interleaved byte by byte, against the pair of weights.
    const uint16_t pair = static_cast<uint16_t>(static_cast<uint8_t>(weights[2 * i]) |
                                                (static_cast<uint8_t>(weights[2 * i + 1]) << 8));
    w[i] = _mm256_set1_epi16(static_cast<int16_t>(pair));
  }
  const __m256i half = _mm256_set1_epi16(ScaleAxis::kOne >> 1);
  const auto block = [&](int x) {
    __m256i lo = half;
    __m256i hi = half;
    for (int i = 0; i < pairs; ++i) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[2 * i] + x));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[2 * i + 1] + x));
      lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), w[i]));
      hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), w[i]));
    }
    // The halves interleaved within each 128-bit lane come back in order when packed.
    const int shift = ScaleAxis::kFractionBits;
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(out + x),
        _mm256_packus_epi16(_mm256_srli_epi16(lo, shift), _mm256_srli_epi16(hi, shift)));
  };
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    block(x);
  }
  if (x < width && width >= 32) {
    // The last columns as one more block ending at the row's end: the columns it does again
    // come out the same.
    block(width - 32);
    x = width;
  }
  return x;
}

inline int64_t Load8(const uint8_t* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

void VerticalAvx2(const uint8_t* const* rows, const int8_t* weights, int taps, int width,
                  uint8_t* out) {
  VerticalBy<Columns>(rows, weights, taps, width, out);
}

void HorizontalAvx2(const ScaleAxis& axis, const uint8_t* in, int readable, int first,
                    uint8_t* out) {
  const __m256i ones = _mm256_set1_epi16(1);
  const __m256i half = _mm256_set1_epi32(ScaleAxis::kOne >> 1);
  constexpr int kGroup = ScaleAxis::kGroupOutputs;
  constexpr int kBytes = ScaleAxis::kGroupBytes;
  int j = first;
  if (!axis.groupStart.empty() && j % kGroup == 0) {
    // Narrow filters: two groups of four outputs per step, each from one 16-byte load put in
    // order by a shuffle, four samples and weights per output.
    const int groups = static_cast<int>(axis.groupStart.size());
    int g = j / kGroup;
    for (; g + 2 <= groups && axis.groupStart[g + 1] + kBytes <= readable; g += 2) {
      const __m256i samples = _mm256_inserti128_si256(
          _mm256_castsi128_si256(
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + axis.groupStart[g]))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + axis.groupStart[g + 1])), 1);
      const size_t at = static_cast<size_t>(g) * kBytes;
      const __m256i order =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&axis.groupShuffle[at]));
      const __m256i weights =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&axis.groupWeights[at]));
      __m256i sum = _mm256_madd_epi16(
          _mm256_maddubs_epi16(_mm256_shuffle_epi8(samples, order), weights), ones);
      sum = _mm256_srli_epi32(_mm256_add_epi32(sum, half), ScaleAxis::kFractionBits);
      const __m256i words = _mm256_packs_epi32(sum, sum);
      const __m256i bytes = _mm256_packus_epi16(words, words);
      const int32_t low = _mm256_cvtsi256_si32(bytes);
      const int32_t high = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
      std::memcpy(out + kGroup * g, &low, 4);
      std::memcpy(out + kGroup * g + 4, &high, 4);
    }
    j = kGroup * g;
  }
  if (axis.stride == 8) {
    const int32_t* start = axis.start.data();
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    // Starts only grow along the row: once a window would read past the input, the SSE2 filter
    // and the reference take the rest.
    for (; j + 8 <= axis.to && start[j + 7] + 8 <= readable; j += 8) {
      // The 8-sample windows of outputs j .. j + 3 and j + 4 .. j + 7, against their weights.
      const __m256i p0 = _mm256_set_epi64x(Load8(in + start[j + 3]), Load8(in + start[j + 2]),
                                           Load8(in + start[j + 1]), Load8(in + start[j]));
      const __m256i p1 = _mm256_set_epi64x(Load8(in + start[j + 7]), Load8(in + start[j + 6]),
                                           Load8(in + start[j + 5]), Load8(in + start[j + 4]));
      const int8_t* w = &axis.weights[static_cast<size_t>(j) * 8];
      const __m256i w0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
      const __m256i w1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 32));
      // Four 16-bit parts per output, then two 32-bit ones, then one: outputs
      // [j, j+1, j+4, j+5 | j+2, j+3, j+6, j+7].
      const __m256i m0 = _mm256_madd_epi16(_mm256_maddubs_epi16(p0, w0), ones);
      const __m256i m1 = _mm256_madd_epi16(_mm256_maddubs_epi16(p1, w1), ones);
      __m256i sum = _mm256_hadd_epi32(m0, m1);
      sum = _mm256_srli_epi32(_mm256_add_epi32(sum, half), ScaleAxis::kFractionBits);
      sum = _mm256_permutevar8x32_epi32(sum, order);
      const __m128i words =
          _mm_packs_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(words, words));
    }
  }
  HorizontalSse2(axis, in, readable, j, out);
}

}  // namespace rovik::player::scale
