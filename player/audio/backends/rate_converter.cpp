#include "player/audio/backends/rate_converter.h"

namespace rovik::player {

RateConverter::RateConverter(unsigned fromRate, unsigned toRate)
    : from_(fromRate > 0 ? fromRate : 1), to_(toRate > 0 ? toRate : 1) {}

void RateConverter::Convert(const int16_t* in, size_t n, std::vector<int16_t>& out) {
  out.clear();
  if (n == 0) return;
  const int64_t end = static_cast<int64_t>(n - 1) * to_;
  for (; position_ <= end; position_ += from_) {
    // Floor division: positions below 0 fall between last_ (sample -1) and in[0].
    const int64_t i = position_ >= 0 ? position_ / to_ : -1;
    const int64_t frac = position_ - i * to_;
    const int64_t a = i < 0 ? last_ : in[i];
    const int64_t b = in[i + 1 < static_cast<int64_t>(n) ? i + 1 : i];
    out.push_back(static_cast<int16_t>((a * (to_ - frac) + b * frac) / to_));
  }
  position_ -= static_cast<int64_t>(n) * to_;
  last_ = in[n - 1];
}

}  // namespace rovik::player
