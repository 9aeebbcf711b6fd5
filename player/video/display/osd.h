// The on-screen text of the players: a line of text, or the clock, in dark grey on an opaque
// light grey box, 15 pixels high in Arial (its metric twin Liberation Sans on Linux).
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "player/media/pixel_format.h"

namespace rovik::player {

inline constexpr uint32_t kOsdBackground = 0xDCDCDC;  // light grey, 0xRRGGBB
inline constexpr uint32_t kOsdForeground = 0x323232;  // dark grey
inline constexpr int kOsdFontPixels = 15;
inline constexpr int kOsdTextX = 5;  // the text: x = 5, y = bottom - 20
inline constexpr int kOsdTextFromBottom = 20;
inline constexpr int kOsdClockFromRight = 175;  // the clock: x = right - 175, y = 5
inline constexpr int kOsdClockY = 5;

// A rendered line: width x height pixels, 0x00RRGGBB, top row first. Empty for an empty text.
struct OsdImage {
  std::vector<uint32_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
};

// Renders `utf8` in normal weight, or semi-bold (drawn bold) when `semibold`.
OsdImage RenderOsdText(const std::string& utf8, bool semibold);

// The image reduced to width x height (each at most the image's), as the picture it is drawn
// on is reduced for a smaller window (picture_scaler.h). Empty for an empty image or size.
OsdImage ShrinkOsdImage(const OsdImage& image, int32_t width, int32_t height);

// Copies the image into `dst` at (x, y), clipped to dst's width and height.
void PutOsdImage(const OsdImage& image, const SurfaceView& dst, int32_t x, int32_t y);

// One line of the on-screen text and where it goes: its top left on the frame it is drawn on.
struct PlacedOsdLine {
  OsdImage image;
  int32_t x = 0;
  int32_t y = 0;
};

// The on-screen text of a frame of width x height (the picture, or the window's client area):
// the caller's text (bytes as OsdTextToUtf8 takes them) at the bottom left, then the clock at
// the top right, both semi-bold when `semibold`.
std::array<PlacedOsdLine, 2> OsdLines(const char* text, size_t maxLength, int32_t width,
                                      int32_t height, bool semibold);

// The clock line for a moment: "%d/%02d/%02d %02d:%02d:%02d" in local time.
std::string OsdClockText(std::time_t when);

// The caller's on-screen text bytes as UTF-8: valid UTF-8 stays; otherwise the bytes are taken
// as GBK (the code page the text was designed for); what still does not convert becomes '?'.
std::string OsdTextToUtf8(const char* bytes, size_t maxLength);

}  // namespace rovik::player
