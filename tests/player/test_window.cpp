#include "tests/player/test_window.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

namespace player_test {
namespace {

// Scales a masked channel to 0..255.
int Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) {
    return 0;
  }
  int shift = 0;
  while (((mask >> shift) & 1) == 0) {
    ++shift;
  }
  const unsigned long max = mask >> shift;
  return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

TestWindow::TestWindow(int width, int height, bool argb) {
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    return;
  }
  const int screen = DefaultScreen(display_);
  // In the screen's bottom-right corner: other test programs running alongside open their
  // windows at the top, and a covered part of a window is not kept for the read-back.
  const int x = std::max(0, DisplayWidth(display_, screen) - width);
  const int y = std::max(0, DisplayHeight(display_, screen) - height);
  if (argb) {
    XVisualInfo info{};
    if (XMatchVisualInfo(display_, screen, 32, TrueColor, &info) == 0) {
      return;
    }
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(display_, RootWindow(display_, screen), info.visual, AllocNone);
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;  // fully transparent until something is drawn
    window_ = XCreateWindow(display_, RootWindow(display_, screen), x, y, width, height, 0, 32,
                            InputOutput, info.visual, CWColormap | CWBorderPixel | CWBackPixel,
                            &attributes);
  } else {
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y, width, height, 0,
                                  BlackPixel(display_, screen), BlackPixel(display_, screen));
  }
  XMapWindow(display_, window_);
  XSync(display_, False);
}

TestWindow::~TestWindow() {
  if (display_ == nullptr) {
    return;
  }
  if (window_ != 0) {
    XDestroyWindow(display_, window_);
  }
  XCloseDisplay(display_);
}

int TestWindow::Depth() const {
  XWindowAttributes attributes{};
  XGetWindowAttributes(display_, window_, &attributes);
  return attributes.depth;
}

void TestWindow::Resize(int width, int height) {
  // Kept in its corner, whole on the screen.
  const int screen = DefaultScreen(display_);
  XMoveResizeWindow(display_, window_, std::max(0, DisplayWidth(display_, screen) - width),
                    std::max(0, DisplayHeight(display_, screen) - height), width, height);
  XSync(display_, False);
}

void TestWindow::Move(int x, int y) {
  XMoveWindow(display_, window_, x, y);
  XSync(display_, False);
}

Rgb TestWindow::PixelAt(int x, int y) const {
  XImage* image = XGetImage(display_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) {
    return {-1, -1, -1};
  }
  const unsigned long pixel = XGetPixel(image, 0, 0);
  Rgb rgb{Channel(pixel, image->red_mask), Channel(pixel, image->green_mask),
          Channel(pixel, image->blue_mask)};
  XDestroyImage(image);
  return rgb;
}

std::vector<uint8_t> TestWindow::RgbImage(int width, int height) const {
  XImage* image = XGetImage(display_, window_, 0, 0, width, height, AllPlanes, ZPixmap);
  std::vector<uint8_t> rgb;
  if (image == nullptr) {
    return rgb;
  }
  rgb.reserve(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->red_mask)));
      rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->green_mask)));
      rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->blue_mask)));
    }
  }
  XDestroyImage(image);
  return rgb;
}

unsigned long TestWindow::RawPixelAt(int x, int y) const {
  XImage* image = XGetImage(display_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) {
    return 0;
  }
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return pixel;
}

bool Near(const Rgb& got, const Rgb& want, int tolerance) {
  return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
         std::abs(got.b - want.b) <= tolerance;
}

}  // namespace player_test
