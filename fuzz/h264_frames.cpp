// Bytes -> FrameQueue -> H264Decoder -> colour conversion, as a camera's frames take them.
// The input is a run of units, each: a 16-bit little-endian length, a flag byte (bit 0 the key
// flag, bits 1-2 the display layout 1..4 minus one, bits 3-7 the window's size), then the
// unit's bytes. Every unit also goes through a second decoder that hands its pictures out
// (DecodedPicture, as a player keeps its last one), and each must equal the first decoder's own
// picture. No picture may exceed the player's limit, whatever the parameter sets claim, and
// every picture is also drawn through a display surface (null back end) as a player shows it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/media/frame_queue.h"
#include "player/media/picture_limits.h"
#include "player/video/convert/color_convert.h"
#include "player/video/decode/h264_decoder.h"
#include "player/video/display/display_null.h"
#include "player/video/display/display_surface.h"

using namespace rovik::player;

namespace {

bool SamePlane(const uint8_t* a, int32_t aStride, const uint8_t* b, int32_t bStride, int32_t width,
               int32_t rows) {
  for (int32_t r = 0; r < rows; ++r) {
    if (std::memcmp(a + static_cast<size_t>(r) * aStride, b + static_cast<size_t>(r) * bStride,
                    width) != 0) {
      return false;
    }
  }
  return true;
}

void CheckHandedOut(const I420View& own, const I420View& handed) {
  if (handed.width != own.width || handed.height != own.height ||
      !SamePlane(handed.y, handed.yStride, own.y, own.yStride, own.width, own.height) ||
      !SamePlane(handed.u, handed.uStride, own.u, own.uStride, own.chromaWidth, own.chromaHeight) ||
      !SamePlane(handed.v, handed.vStride, own.v, own.vStride, own.chromaWidth, own.chromaHeight)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameQueue queue;
  H264Decoder decoder;
  H264Decoder handing;
  DecodedPicture handed;
  std::vector<uint8_t> surface;
  // One display for the whole run, as a player draws picture after picture into one window.
  static DisplaySurface display(1, "null");
  static const int ready = display.SetUp();
  (void)ready;
  size_t at = 0;
  while (at + 3 <= size) {
    const size_t length = data[at] | (data[at + 1] << 8);
    const uint8_t flags = data[at + 2];
    at += 3;
    const size_t take = length < size - at ? length : size - at;
    queue.Push(data + at, static_cast<int32_t>(take), flags & 1, 0, 0, 0);
    at += take;
    QueuedFrame frame;
    while (queue.Pop(frame)) {
      I420View picture;
      const bool gotHanded = handing.Decode(frame.data(), frame.bytes.size(), handed);
      if (!decoder.Decode(frame.data(), frame.bytes.size(), picture)) {
        continue;
      }
      if (!PictureSizeAllowed(picture.width, picture.height)) {
        std::abort();  // the decoder let a picture beyond the limit through
      }
      if (gotHanded) {
        CheckHandedOut(picture, handed.View());
      }
      const auto format = static_cast<PixelFormatCode>(1 + ((flags >> 1) & 3));
      const int32_t pitch = picture.width * BytesPerPixel(format);
      surface.assign(static_cast<size_t>(pitch) * picture.height, 0);
      ConvertI420(picture, {surface.data(), pitch, picture.width, picture.height, format});
      // Flag bits 3-7 pick the window: unknown (the picture's size), or smaller than the
      // picture, so that the picture is reduced while it is converted.
      const int32_t across = (flags >> 3) & 3;
      const int32_t down = (flags >> 5) & 7;
      if (auto* window = dynamic_cast<NullDisplayBackend*>(display.Backend())) {
        window->SetClientSize(across == 0 ? 0 : 1 + picture.width * across / 4,
                              down == 0 ? 0 : 1 + picture.height * down / 9);
      }
      if (display.Draw(picture) != 1) {
        std::abort();  // a picture within the limit is always shown
      }
    }
  }
  return 0;
}
