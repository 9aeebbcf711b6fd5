// Whole JPEG pictures decoded with libjpeg-turbo straight into an RGB picture of one of the
// display layouts. Damaged or hostile data never ends the process: a picture either decodes
// (perhaps partly, when the data ends early) or is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/media/pixel_format.h"

namespace rovik::player {

// Pictures beyond the player's limit (picture_limits.h) are refused by their header, before
// anything is allocated for them.
class JpegDecoder {
 public:
  // Work space kept between pictures for the 16-bit layouts; more is let go after each picture.
  static constexpr size_t kKeptScratchBytes = size_t{1280} * 720 * 3;

  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Reads the picture size from the header; false when the bytes are no JPEG it can decode.
  bool ReadSize(const uint8_t* bytes, size_t length, int32_t* width, int32_t* height);

  // Decodes the whole picture into the top-left of `dst`, which must hold its full size. The
  // fourth byte of 32-bit pixels is 0xFF.
  bool Decode(const uint8_t* bytes, size_t length, const SurfaceView& dst);

 private:
  void Reset();

  void* handle_ = nullptr;        // the TurboJPEG decompressor
  std::vector<uint8_t> scratch_;  // 32-bit picture for the 16-bit layouts
};

}  // namespace rovik::player
