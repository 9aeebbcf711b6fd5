// Bytes -> FrameQueue -> JPEG decoding into each display layout, as a JPEG camera's frames take
// them. The last input byte picks the layout (1..4); the rest is the frame. Declared sizes are
// not restricted here: the decoder itself must refuse what is beyond the player's limit. The
// frame is also drawn through a display surface (null back end) as a JPEG player draws it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "player/media/frame_queue.h"
#include "player/media/picture_limits.h"
#include "player/video/decode/jpeg_decoder.h"
#include "player/video/display/display_surface.h"
#include "player/video/video_player.h"

using namespace rovik::player;

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
  const bool sized = decoder.ReadSize(frame.data(), frame.bytes.size(), &w, &h);
  if (sized) {
    if (!PictureSizeAllowed(w, h)) {
      std::abort();  // a size beyond the limit must be refused by its header
    }
    const int32_t pitch = w * BytesPerPixel(format);
    std::vector<uint8_t> surface(static_cast<size_t>(pitch) * h);
    decoder.Decode(frame.data(), frame.bytes.size(), {surface.data(), pitch, w, h, format});
  }
  // One display for the whole run, as a player draws frame after frame into one window.
  static DisplaySurface display(1, "null");
  static const int ready = display.SetUp();
  (void)ready;
  int32_t shownWidth = 0;
  int32_t shownHeight = 0;
  DrawJpegFrame(display, frame.data(), frame.bytes.size(), "", false, &shownWidth, &shownHeight);
  return 0;
}
