// Picture layouts shared by the decoders, the colour conversion, the display and the snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rovik::player {

// Layout of the off-screen picture, taken from the window's visual.
enum PixelFormatCode : int32_t {
  kPixelFormatNone = 0,    // anything else: the set-up fails, nothing is shown
  kPixelFormatRgb555 = 1,  // 16-bit word: bit 15 clear, red 14..10, green 9..5, blue 4..0
  kPixelFormatRgb565 = 2,  // 16-bit word: red 15..11, green 10..5, blue 4..0
  kPixelFormatRgb24 = 3,   // three bytes: blue, green, red
  kPixelFormatRgb32 = 4,   // four bytes: blue, green, red, 0xFF (opaque in an ARGB window)
};

// Bytes per pixel of a layout; 0 for kPixelFormatNone.
int BytesPerPixel(PixelFormatCode format);

// A writable RGB picture in one of the layouts: rows `pitch` bytes apart, top row first.
struct SurfaceView {
  uint8_t* pixels = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  PixelFormatCode format = kPixelFormatNone;
};

// A planar 4:2:0 picture. Chroma planes hold chromaWidth x chromaHeight samples: halves
// rounded up for the decoder's pictures, integer halves for tightly packed ones (PackedI420).
// A picture of at least two rows with as many chroma rows as rows has one chroma row per row
// (a reduced picture, picture_scaler.h); otherwise two rows share each chroma row.
struct I420View {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int32_t yStride = 0;
  int32_t uStride = 0;
  int32_t vStride = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t chromaWidth = 0;
  int32_t chromaHeight = 0;
};

// The tightly packed I420 view of a buffer holding width x height luma followed by the two
// (width / 2) x (height / 2) chroma planes.
I420View PackedI420(const uint8_t* buffer, int32_t width, int32_t height);
// Size of that buffer in bytes.
size_t PackedI420Size(int32_t width, int32_t height);

// Unpacks the top-left width x height of a picture into 8-bit red, green, blue triplets, tightly
// packed, top row first (what a JPEG encoder takes). 16-bit layouts widen each channel by
// repeating its top bits. Returns an empty vector for a bad view.
std::vector<uint8_t> SurfaceToRgb(const SurfaceView& view, int32_t width, int32_t height);

// Packs one 8-bit red, green, blue pixel into a layout at `dst`.
void PackPixel(PixelFormatCode format, uint8_t r, uint8_t g, uint8_t b, uint8_t* dst);

// Paints the top-left width x height of a picture opaque black (clipped to the picture).
void FillBlack(const SurfaceView& view, int32_t width, int32_t height);

}  // namespace rovik::player
