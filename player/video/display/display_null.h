// The display back end without a window system: the off-screen picture lives in memory, the
// client area has a size the test chooses, and every present is recorded for inspection.
#pragma once

#include <mutex>
#include <vector>

#include "player/video/display/display_backend.h"

namespace rovik::player {

class NullDisplayBackend : public DisplayBackend {
 public:
  // The last present as the window would have shown it: the picture rectangle (unscaled, in the
  // 32-bit layout) with the overlays put at their client coordinates scaled back onto it.
  struct Shown {
    std::vector<uint8_t> pixels;  // width x height x 4 bytes
    int32_t width = 0;
    int32_t height = 0;
    size_t overlays = 0;
  };

  PixelFormatCode Open(uintptr_t window, int32_t width, int32_t height) override;
  bool Resize(int32_t width, int32_t height) override;
  void Capacity(int32_t* width, int32_t* height) const override;
  SurfaceView Picture(int32_t width, int32_t height) override;
  bool ClientSize(int32_t* width, int32_t* height) override;
  bool Present(int32_t width, int32_t height, std::span<const DisplayOverlay> overlays) override;

  // The client size reported from now on (0 x 0, the default: unknown, so pictures are shown
  // at their own size).
  void SetClientSize(int32_t width, int32_t height);
  uint64_t Presents() const;
  Shown LastShown() const;

 private:
  mutable std::mutex lock_;  // guards every field below
  std::vector<uint8_t> picture_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t clientWidth_ = 0;
  int32_t clientHeight_ = 0;
  uint64_t presents_ = 0;
  Shown shown_;
};

}  // namespace rovik::player
