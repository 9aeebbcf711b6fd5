#include "player/media/pixel_format.h"

#include <algorithm>
#include <cstring>

namespace rovik::player {

int BytesPerPixel(PixelFormatCode format) {
  switch (format) {
    case kPixelFormatRgb555:
    case kPixelFormatRgb565:
      return 2;
    case kPixelFormatRgb24:
      return 3;
    case kPixelFormatRgb32:
      return 4;
    case kPixelFormatNone:
      break;
  }
  return 0;
}

I420View PackedI420(const uint8_t* buffer, int32_t width, int32_t height) {
  I420View view;
  if (buffer == nullptr || width <= 0 || height <= 0) {
    return view;
  }
  const size_t lumaSize = static_cast<size_t>(width) * height;
  const size_t chromaSize = static_cast<size_t>(width / 2) * (height / 2);
  view.y = buffer;
  view.u = buffer + lumaSize;
  view.v = buffer + lumaSize + chromaSize;
  view.yStride = width;
  view.uStride = width / 2;
  view.vStride = width / 2;
  view.width = width;
  view.height = height;
  view.chromaWidth = width / 2;
  view.chromaHeight = height / 2;
  return view;
}

size_t PackedI420Size(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    return 0;
  }
  return static_cast<size_t>(width) * height + 2 * static_cast<size_t>(width / 2) * (height / 2);
}

void PackPixel(PixelFormatCode format, uint8_t r, uint8_t g, uint8_t b, uint8_t* dst) {
  switch (format) {
    case kPixelFormatRgb32:
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
      dst[3] = 0xFF;
      break;
    case kPixelFormatRgb24:
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
      break;
    case kPixelFormatRgb565: {
      const uint16_t word = static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
      std::memcpy(dst, &word, 2);
      break;
    }
    case kPixelFormatRgb555: {
      const uint16_t word = static_cast<uint16_t>(((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3));
      std::memcpy(dst, &word, 2);
      break;
    }
    case kPixelFormatNone:
      break;
  }
}

void FillBlack(const SurfaceView& view, int32_t width, int32_t height) {
  const int bpp = BytesPerPixel(view.format);
  if (bpp == 0 || view.pixels == nullptr) {
    return;
  }
  width = std::min(width, view.width);
  height = std::min(height, view.height);
  if (width <= 0 || height <= 0) {
    return;
  }
  uint8_t black[4] = {};
  PackPixel(view.format, 0, 0, 0, black);
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* p = view.pixels + static_cast<size_t>(row) * view.pitch;
    if (bpp != 4) {
      std::memset(p, 0, static_cast<size_t>(width) * bpp);  // black is all zero bits there
      continue;
    }
    for (int32_t x = 0; x < width; ++x, p += 4) {
      std::memcpy(p, black, 4);
    }
  }
}

namespace {
uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
uint8_t Widen6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }
}  // namespace

std::vector<uint8_t> SurfaceToRgb(const SurfaceView& view, int32_t width, int32_t height) {
  std::vector<uint8_t> rgb;
  const int bpp = BytesPerPixel(view.format);
  if (bpp == 0 || view.pixels == nullptr || width <= 0 || height <= 0 || width > view.width ||
      height > view.height || view.pitch < static_cast<int64_t>(view.width) * bpp) {
    return rgb;
  }
  rgb.resize(static_cast<size_t>(width) * height * 3);
  uint8_t* out = rgb.data();
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* p = view.pixels + static_cast<size_t>(row) * view.pitch;
    for (int32_t x = 0; x < width; ++x, p += bpp, out += 3) {
      switch (view.format) {
        case kPixelFormatRgb32:
        case kPixelFormatRgb24:
          out[0] = p[2];
          out[1] = p[1];
          out[2] = p[0];
          break;
        case kPixelFormatRgb565: {
          uint16_t w;
          std::memcpy(&w, p, 2);
          out[0] = Widen5(w >> 11);
          out[1] = Widen6((w >> 5) & 0x3F);
          out[2] = Widen5(w & 0x1F);
          break;
        }
        case kPixelFormatRgb555: {
          uint16_t w;
          std::memcpy(&w, p, 2);
          out[0] = Widen5((w >> 10) & 0x1F);
          out[1] = Widen5((w >> 5) & 0x1F);
          out[2] = Widen5(w & 0x1F);
          break;
        }
        case kPixelFormatNone:
          break;
      }
    }
  }
  return rgb;
}

}  // namespace rovik::player
