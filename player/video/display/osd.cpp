#include "player/video/display/osd.h"

#include <cairo.h>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "player/video/convert/picture_scaler.h"

namespace rovik::player {
namespace {

// Length of the UTF-8 sequence starting at s (at most n bytes), 0 when it is not valid.
size_t Utf8Sequence(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  size_t len = 0;
  uint32_t cp = 0;
  if (c < 0x80) {
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (len > n) {
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) {
      return 0;
    }
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return len;
}

bool ValidUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8Sequence(p + i, s.size() - i);
    if (len == 0) {
      return false;
    }
    i += len;
  }
  return true;
}

std::string FromGbk(const std::string& in) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return {};
  }
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) {
      break;
    }
    if (dstLeft == 0) {
      break;
    }
    // An unconvertible byte becomes '?'.
    *dst++ = '?';
    --dstLeft;
    ++src;
    --srcLeft;
  }
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace

std::string OsdTextToUtf8(const char* bytes, size_t maxLength) {
  if (bytes == nullptr) {
    return {};
  }
  std::string text(bytes, strnlen(bytes, maxLength));
  if (ValidUtf8(text)) {
    return text;
  }
  std::string converted = FromGbk(text);
  if (!converted.empty() && ValidUtf8(converted)) {
    return converted;
  }
  for (char& c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      c = '?';
    }
  }
  return text;
}

std::string OsdClockText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

OsdImage RenderOsdText(const std::string& utf8, bool semibold) {
  OsdImage image;
  if (utf8.empty() || !ValidUtf8(utf8)) {
    return image;
  }
  const cairo_font_weight_t weight = semibold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL;
  // Measure on a scratch surface, then draw into one of the text's size.
  cairo_surface_t* probe = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(probe);
  cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL, weight);
  cairo_set_font_size(cr, kOsdFontPixels);
  cairo_font_extents_t font;
  cairo_text_extents_t text;
  cairo_font_extents(cr, &font);
  cairo_text_extents(cr, utf8.c_str(), &text);
  const bool measured = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_destroy(probe);
  if (!measured) {
    return image;
  }
  const int width = static_cast<int>(std::ceil(text.x_advance));
  const int height = static_cast<int>(std::ceil(font.ascent + font.descent));
  if (width <= 0 || height <= 0 || width > 4096 || height > 256) {
    return image;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cr = cairo_create(surface);
  cairo_set_source_rgb(cr, ((kOsdBackground >> 16) & 0xFF) / 255.0,
                       ((kOsdBackground >> 8) & 0xFF) / 255.0, (kOsdBackground & 0xFF) / 255.0);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, ((kOsdForeground >> 16) & 0xFF) / 255.0,
                       ((kOsdForeground >> 8) & 0xFF) / 255.0, (kOsdForeground & 0xFF) / 255.0);
  cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL, weight);
  cairo_set_font_size(cr, kOsdFontPixels);
  cairo_move_to(cr, 0, std::round(font.ascent));
  cairo_show_text(cr, utf8.c_str());
  cairo_surface_flush(surface);
  if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) {
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    const int stride = cairo_image_surface_get_stride(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    for (int row = 0; row < height; ++row) {
      const auto* src = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(row) * stride);
      std::transform(src, src + width, image.pixels.begin() + static_cast<ptrdiff_t>(row) * width,
                     [](uint32_t p) { return p & 0xFFFFFF; });
    }
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return image;
}

OsdImage ShrinkOsdImage(const OsdImage& image, int32_t width, int32_t height) {
  OsdImage out;
  if (image.pixels.empty() || width <= 0 || height <= 0 || width > image.width ||
      height > image.height) {
    return out;
  }
  // Each channel as a plane of its own, reduced by the pictures' filter.
  const size_t count = static_cast<size_t>(image.width) * image.height;
  std::vector<uint8_t> channel(count);
  out.pixels.assign(static_cast<size_t>(width) * height, 0);
  out.width = width;
  out.height = height;
  PictureScaler scaler;
  for (int shift : {16, 8, 0}) {
    for (size_t i = 0; i < count; ++i) {
      channel[i] = static_cast<uint8_t>(image.pixels[i] >> shift);
    }
    I420View plane;
    plane.y = channel.data();
    plane.yStride = image.width;
    plane.width = image.width;
    plane.height = image.height;
    const I420View& reduced = scaler.Scale(plane, width, height);
    for (int32_t row = 0; row < height; ++row) {
      for (int32_t col = 0; col < width; ++col) {
        out.pixels[static_cast<size_t>(row) * width + col] |=
            static_cast<uint32_t>(reduced.y[static_cast<size_t>(row) * reduced.yStride + col])
            << shift;
      }
    }
  }
  return out;
}

void PutOsdImage(const OsdImage& image, const SurfaceView& dst, int32_t x, int32_t y) {
  const int bpp = BytesPerPixel(dst.format);
  if (bpp == 0 || dst.pixels == nullptr || image.pixels.empty()) {
    return;
  }
  const int32_t fromX = std::max(0, -x);
  const int32_t fromY = std::max(0, -y);
  const int32_t toX = std::min<int64_t>(image.width, static_cast<int64_t>(dst.width) - x);
  const int32_t toY = std::min<int64_t>(image.height, static_cast<int64_t>(dst.height) - y);
  for (int32_t row = fromY; row < toY; ++row) {
    const uint32_t* src = image.pixels.data() + static_cast<size_t>(row) * image.width;
    uint8_t* d = dst.pixels + static_cast<size_t>(y + row) * dst.pitch;
    for (int32_t col = fromX; col < toX; ++col) {
      const uint32_t p = src[col];
      PackPixel(dst.format, static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                static_cast<uint8_t>(p), d + static_cast<size_t>(x + col) * bpp);
    }
  }
}

std::array<PlacedOsdLine, 2> OsdLines(const char* text, size_t maxLength, int32_t width,
                                      int32_t height, bool semibold) {
  std::array<PlacedOsdLine, 2> lines;
  lines[0] = {RenderOsdText(OsdTextToUtf8(text, maxLength), semibold), kOsdTextX,
              height - kOsdTextFromBottom};
  lines[1] = {RenderOsdText(OsdClockText(std::time(nullptr)), semibold), width - kOsdClockFromRight,
              kOsdClockY};
  return lines;
}

}  // namespace rovik::player
