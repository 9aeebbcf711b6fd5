#include "tests/playapi/test_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace rovik_test {

bool TestWindow::Open(int width, int height) {
  // An X server whose last client (another test's window) just left starts over and refuses
  // connections meanwhile: a display that is set gets two seconds before the test is skipped.
  Display* display = XOpenDisplay(nullptr);
  for (int tries = 0; display == nullptr && std::getenv("DISPLAY") != nullptr && tries < 40; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    display = XOpenDisplay(nullptr);
  }
  if (display == nullptr) return false;
  display_ = display;
  // At the screen's top right: the camera tests open theirs at the top left and the player's
  // display tests at the bottom right, and a covered part of a window is not kept.
  const int x = DisplayWidth(display, DefaultScreen(display)) - width;
  window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), x > 0 ? x : 0, 0,
                                static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0,
                                0);
  XMapWindow(display, window_);
  XSync(display, False);
  return true;
}

namespace {
int Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  return static_cast<int>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}
}  // namespace

bool TestWindow::PixelAt(int x, int y, int* r, int* g, int* b) const {
  Display* display = static_cast<Display*>(display_);
  if (display == nullptr) return false;
  XImage* image = XGetImage(display, window_, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  *r = Channel(pixel, image->red_mask);
  *g = Channel(pixel, image->green_mask);
  *b = Channel(pixel, image->blue_mask);
  XDestroyImage(image);
  return true;
}

TestWindow::~TestWindow() {
  Display* display = static_cast<Display*>(display_);
  if (display == nullptr) return;
  if (window_ != 0) XDestroyWindow(display, window_);
  XCloseDisplay(display);
}

}  // namespace rovik_test
