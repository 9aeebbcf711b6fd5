// Converts the player's 8000 Hz mono samples to the rate an output device offers instead, by
// linear interpolation, chunk after chunk without a seam (the last sample of a chunk is kept for
// the first steps of the next).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rovik::player {

class RateConverter {
 public:
  RateConverter(unsigned fromRate, unsigned toRate);

  // Appends the converted samples of `n` input samples to `out` (cleared first).
  void Convert(const int16_t* in, size_t n, std::vector<int16_t>& out);

 private:
  const int64_t from_;
  const int64_t to_;
  // Position of the next output sample in input samples times to_, from the start of the next
  // chunk; -to_ .. 0 lies between the previous chunk's last sample and the next chunk's first.
  int64_t position_ = 0;
  int16_t last_ = 0;
};

}  // namespace rovik::player
