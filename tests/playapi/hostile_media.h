// Media that lie about their size, and what it costs the process: H.264 units built bit by bit
// (parameter sets claiming any picture size, then an IDR picture of raw PCM macroblocks, so a
// picture of a known colour needs no encoder), JPEG headers rewritten to claim another size,
// and the process's resident memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rovik_test {

// One H.264 access unit: a baseline SPS claiming width x height (multiples of 16), a PPS and an
// IDR slice whose first `macroblocks` macroblocks are raw samples of the given Y, U and V. With
// fewer macroblocks than the picture holds, the slice simply ends early.
std::vector<uint8_t> PcmH264Unit(int width, int height, int macroblocks, uint8_t y, uint8_t u,
                                 uint8_t v);
// The same with every macroblock of the picture coded.
std::vector<uint8_t> SolidH264Unit(int width, int height, uint8_t y, uint8_t u, uint8_t v);

// A JPEG of one colour.
std::vector<uint8_t> SolidJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b);
// The same bytes with the frame header claiming width x height.
std::vector<uint8_t> JpegClaiming(std::vector<uint8_t> jpeg, int width, int height);

// Resident memory of this process in bytes (VmRSS).
size_t ResidentBytes();

}  // namespace rovik_test
