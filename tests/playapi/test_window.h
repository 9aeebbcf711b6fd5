// A real X window for the player to draw into (kept apart from the suites: Xlib's macros clash
// with GoogleTest's names).
#pragma once

#include <cstdint>

namespace rovik_test {

class TestWindow {
 public:
  TestWindow() = default;
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  // Opens the display named by DISPLAY and maps a width x height window; false without one.
  bool Open(int width, int height);
  uintptr_t id() const { return window_; }
  // The colour of one pixel of the window as 8-bit red, green and blue; false when it cannot
  // be read.
  bool PixelAt(int x, int y, int* r, int* g, int* b) const;

 private:
  void* display_ = nullptr;
  uintptr_t window_ = 0;
};

}  // namespace rovik_test
