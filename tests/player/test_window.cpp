#include "tests/player/test_window.h"

#include <X11/Xutil.h>

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

TestWindow::TestWindow(int width, int height) {
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    return;
  }
  const int screen = DefaultScreen(display_);
  window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, width, height, 0,
                                BlackPixel(display_, screen), BlackPixel(display_, screen));
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
  XResizeWindow(display_, window_, width, height);
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

bool Near(const Rgb& got, const Rgb& want, int tolerance) {
  return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
         std::abs(got.b - want.b) <= tolerance;
}

}  // namespace player_test
