// Bytes -> FrameQueue -> JPEG decoding into each display layout, as a JPEG camera's frames take
// them. The last input byte picks the layout (1..4); the rest is the frame.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/frame_queue.h"
#include "player/jpeg_decoder.h"

using namespace qxplay;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  const auto format = static_cast<PixelFormatCode>(1 + (data[size - 1] & 3));
  FrameQueue queue;
  queue.Push(data, static_cast<int32_t>(size - 1), 1, 0, 0, 0);
  QueuedFrame frame;
  if (!queue.Pop(frame)) {
    return 0;
  }
  JpegDecoder decoder;
  int32_t w = 0;
  int32_t h = 0;
  if (!decoder.ReadSize(frame.data(), frame.bytes.size(), &w, &h)) {
    return 0;
  }
  // Large declared sizes are legal up to the decoder's limit; keep the fuzzer's memory sane.
  if (static_cast<int64_t>(w) * h > 4096 * 4096) {
    return 0;
  }
  const int32_t pitch = w * BytesPerPixel(format);
  std::vector<uint8_t> surface(static_cast<size_t>(pitch) * h);
  decoder.Decode(frame.data(), frame.bytes.size(), {surface.data(), pitch, w, h, format});
  return 0;
}
