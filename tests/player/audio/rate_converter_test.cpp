// The output's rate conversion for devices without 8000 Hz: the number of samples a chunk
// becomes, and a tone that stays whole across the seams between chunks.
#include "player/audio/backends/rate_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

using namespace rovik::player;

TEST(RateConverter, ChunksBecomeTheirShareOfTheDeviceRateWithoutSeams) {
  struct Case {
    unsigned rate;
    size_t perSecond;
  };
  for (const Case c :
       {Case{8000, 8000}, Case{44100, 44100}, Case{48000, 48000}, Case{11025, 11025}}) {
    RateConverter converter(8000, c.rate);
    std::vector<int16_t> in(320), out;
    size_t total = 0;
    int worstStep = 0;
    int16_t previous = 0;
    for (int chunk = 0; chunk < 25; ++chunk) {  // one second
      for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(8000 * std::sin((chunk * 320 + i) * 2 * M_PI / 80));  // 100 Hz
      }
      converter.Convert(in.data(), in.size(), out);
      for (int16_t s : out) {
        if (total > 0) worstStep = std::max(worstStep, std::abs(s - previous));
        previous = s;
        ++total;
      }
    }
    // The last input sample's interval waits for the next chunk.
    EXPECT_NEAR(static_cast<double>(total), c.perSecond, c.rate / 8000.0 + 1) << c.rate;
    // A 100 Hz tone of peak 8000 moves at most 8000 * 2pi * 100 / rate between samples.
    EXPECT_LE(worstStep, 8000 * 2 * M_PI * 100 / c.rate + 2) << c.rate;
  }
}
