#include "tests/playapi/test_window.h"

#include <X11/Xlib.h>

namespace rovik_test {

bool TestWindow::Open(int width, int height) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  display_ = display;
  window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                static_cast<unsigned>(width), static_cast<unsigned>(height), 0, 0,
                                0);
  XMapWindow(display, window_);
  XSync(display, False);
  return true;
}

TestWindow::~TestWindow() {
  Display* display = static_cast<Display*>(display_);
  if (display == nullptr) return;
  if (window_ != 0) XDestroyWindow(display, window_);
  XCloseDisplay(display);
}

}  // namespace rovik_test
