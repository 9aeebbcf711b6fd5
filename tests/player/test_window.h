// A real X11 window for the display tests, with the read-back of what was drawn into it.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace player_test {

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
};

class TestWindow {
 public:
  // Opens $DISPLAY and maps a window of that size in the screen's bottom-right corner (other
  // test programs open theirs at the top); Valid() is false without a display. With
  // `argb` the window has a 32-bit visual with an alpha channel (as under a compositor), and
  // Valid() is also false when the server offers none.
  TestWindow(int width, int height, bool argb = false);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  bool Valid() const { return window_ != 0; }
  uintptr_t Id() const { return window_; }
  int Depth() const;
  void Resize(int width, int height);
  // Places the window's top left corner at (x, y) on the screen.
  void Move(int x, int y);
  // The colour of one pixel of the window, read with XGetImage.
  Rgb PixelAt(int x, int y) const;
  // The top-left width x height of the window as red, green, blue bytes, top row first, in one
  // read; empty when it cannot be read.
  std::vector<uint8_t> RgbImage(int width, int height) const;
  // The pixel value as the server stores it (in a 32-bit window the top byte is alpha).
  unsigned long RawPixelAt(int x, int y) const;

 private:
  Display* display_ = nullptr;
  Window window_ = 0;
};

bool Near(const Rgb& got, const Rgb& want, int tolerance);

}  // namespace player_test
