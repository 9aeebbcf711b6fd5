// Snapshot files: the shown picture encoded as a JPEG at quality 100, or a received JPEG written
// back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/media/pixel_format.h"
#include "player/video/display/display_surface.h"

namespace rovik::player {

// Layouts of a shown picture, numbered as the display's PixelFormatCode:
// 1 = 16-bit 5-5-5, 2 = 16-bit 5-6-5, 3 = 24-bit blue-green-red, 4 = 32-bit blue-green-red-x.
// The 16-bit words are in host byte order, as the display writes them.

// Encodes `width` x `height` pixels (rows `pitch` bytes apart, top row first) as a JPEG at
// quality 100. Empty on a bad layout, size or an encoder failure.
std::vector<uint8_t> EncodeSnapshotJpeg(const uint8_t* pixels, int pitch, int width, int height,
                                        int pixel_format);

// Creates the folders on `path` and writes the picture there as a JPEG of quality 100.
// True when the whole file was written. Files appear whole (written beside, then renamed);
// a failed write leaves what was there before.
bool WriteSnapshotJpeg(const char* path, const uint8_t* pixels, int pitch, int width, int height,
                       int pixel_format);

// Creates the folders on `path` and writes `length` bytes there (created or replaced, appearing
// whole). True when every byte was written.
bool WriteSnapshotBytes(const char* path, const uint8_t* bytes, size_t length);

// The players' snapshot writer: pictures are written with WriteSnapshotJpeg, JPEG frames with
// WriteSnapshotBytes, both at the whole path given. Stateless; one serves every player.
class JpegSnapshotWriter final : public SnapshotWriter {
 public:
  bool WritePicture(const char* path, const SurfaceView& picture) override;
  bool WriteJpeg(const char* path, const uint8_t* bytes, size_t length) override;

  // The process-wide instance handed to the players.
  static JpegSnapshotWriter* Instance();
};

}  // namespace rovik::player
