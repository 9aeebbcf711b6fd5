#include "player/video/display/display_null.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace rovik::player {

PixelFormatCode NullDisplayBackend::Open(uintptr_t window, int32_t width, int32_t height) {
  if (window == 0) {
    return kPixelFormatNone;
  }
  return Resize(width, height) ? kPixelFormatRgb32 : kPixelFormatNone;
}

bool NullDisplayBackend::Resize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    return false;
  }
  std::vector<uint8_t> fresh;
  try {
    fresh.assign(static_cast<size_t>(width) * height * 4, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::lock_guard<std::mutex> hold(lock_);
  picture_.swap(fresh);
  width_ = width;
  height_ = height;
  return true;
}

void NullDisplayBackend::Capacity(int32_t* width, int32_t* height) const {
  std::lock_guard<std::mutex> hold(lock_);
  *width = width_;
  *height = height_;
}

SurfaceView NullDisplayBackend::Picture(int32_t width, int32_t height) {
  std::lock_guard<std::mutex> hold(lock_);
  if (width <= 0 || height <= 0 || width > width_ || height > height_) {
    return {};
  }
  // Rows packed, as the X11 back end lays them out.
  return {picture_.data(), width * 4, width, height, kPixelFormatRgb32};
}

bool NullDisplayBackend::ClientSize(int32_t* width, int32_t* height) {
  std::lock_guard<std::mutex> hold(lock_);
  *width = clientWidth_;
  *height = clientHeight_;
  return true;
}

bool NullDisplayBackend::Present(int32_t width, int32_t height,
                                 std::span<const DisplayOverlay> overlays) {
  std::lock_guard<std::mutex> hold(lock_);
  width = std::min(width, width_);
  height = std::min(height, height_);
  if (width <= 0 || height <= 0) {
    return false;
  }
  Shown shown;
  shown.width = width;
  shown.height = height;
  shown.overlays = overlays.size();
  // The picture's rows are packed (Picture): it is one block.
  shown.pixels.assign(picture_.begin(),
                      picture_.begin() + static_cast<ptrdiff_t>(width) * height * 4);
  // Overlays sit at client coordinates; map them back onto the unscaled picture.
  const int32_t cw = clientWidth_ > 0 ? clientWidth_ : width;
  const int32_t ch = clientHeight_ > 0 ? clientHeight_ : height;
  for (const DisplayOverlay& o : overlays) {
    for (int32_t row = 0; row < o.height; ++row) {
      for (int32_t col = 0; col < o.width; ++col) {
        const int64_t x = static_cast<int64_t>(o.x + col) * width / cw;
        const int64_t y = static_cast<int64_t>(o.y + row) * height / ch;
        if (x < 0 || y < 0 || x >= width || y >= height) {
          continue;
        }
        std::memcpy(shown.pixels.data() + (static_cast<size_t>(y) * width + x) * 4,
                    o.pixels + static_cast<size_t>(row) * o.pitch + static_cast<size_t>(col) * 4,
                    4);
      }
    }
  }
  shown_ = std::move(shown);
  ++presents_;
  return true;
}

void NullDisplayBackend::SetClientSize(int32_t width, int32_t height) {
  std::lock_guard<std::mutex> hold(lock_);
  clientWidth_ = width;
  clientHeight_ = height;
}

uint64_t NullDisplayBackend::Presents() const {
  std::lock_guard<std::mutex> hold(lock_);
  return presents_;
}

NullDisplayBackend::Shown NullDisplayBackend::LastShown() const {
  std::lock_guard<std::mutex> hold(lock_);
  return shown_;
}

}  // namespace rovik::player
