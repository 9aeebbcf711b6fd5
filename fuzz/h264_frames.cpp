// Bytes -> FrameQueue -> H264Decoder -> colour conversion, as a camera's frames take them.
// The input is a run of units, each: a 16-bit little-endian length, a flag byte (bit 0 the key
// flag, bits 1-2 the display layout 1..4 minus one), then the unit's bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/color_convert.h"
#include "player/frame_queue.h"
#include "player/h264_decoder.h"

using namespace qxplay;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameQueue queue;
  H264Decoder decoder;
  std::vector<uint8_t> surface;
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
      if (!decoder.Decode(frame.data(), frame.bytes.size(), picture)) {
        continue;
      }
      const auto format = static_cast<PixelFormatCode>(1 + ((flags >> 1) & 3));
      // Bounded as the display is: a smaller surface than the picture is clipped.
      const int32_t w = picture.width < 2048 ? picture.width : 2048;
      const int32_t h = picture.height < 2048 ? picture.height : 2048;
      const int32_t pitch = w * BytesPerPixel(format);
      surface.assign(static_cast<size_t>(pitch) * h, 0);
      ConvertI420(picture, {surface.data(), pitch, w, h, format});
    }
  }
  return 0;
}
