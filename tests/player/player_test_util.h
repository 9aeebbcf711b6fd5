// Small helpers shared by the player suites.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "player/video/display/display_null.h"
#include "player/video/video_player.h"
#include "tests/player/clip_reader.h"

namespace player_test {

// Polls `done` until it holds or `seconds` pass; returns its last value.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 20.0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return done();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline qxplay::PlayerHooks NullHooks() {
  qxplay::PlayerHooks hooks;
  hooks.displayBackend = "null";
  return hooks;
}

inline qxplay::NullDisplayBackend* NullBackend(qxplay::DisplaySurface* display) {
  return display == nullptr ? nullptr : dynamic_cast<qxplay::NullDisplayBackend*>(display->Backend());
}

// Colour of one pixel of a null back end's last shown picture (32-bit layout).
struct Colour {
  int r, g, b;
};
inline Colour ShownAt(const qxplay::NullDisplayBackend::Shown& shown, int x, int y) {
  const uint8_t* p = shown.pixels.data() + (static_cast<size_t>(y) * shown.width + x) * 4;
  return {p[2], p[1], p[0]};
}
inline bool Close(const Colour& c, int r, int g, int b, int tolerance) {
  return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance &&
         std::abs(c.b - b) <= tolerance;
}

// Counts pixels of the OSD's dark text colour inside a rectangle of the shown picture.
inline int DarkPixels(const qxplay::NullDisplayBackend::Shown& shown, int x0, int y0, int x1,
                      int y1) {
  int count = 0;
  for (int y = std::max(0, y0); y < std::min(shown.height, y1); ++y) {
    for (int x = std::max(0, x0); x < std::min(shown.width, x1); ++x) {
      if (Close(ShownAt(shown, x, y), 0x32, 0x32, 0x32, 24)) {
        ++count;
      }
    }
  }
  return count;
}

// A recorder that only keeps what the player handed over.
class FakeRecorder : public qxplay::FrameRecorder {
 public:
  int Start(const char* path, int32_t kind) override {
    started = path;
    startedKind = kind;
    return 1;
  }
  qxplay::FrameQueue& Queue() override { return queue; }

  std::string started;
  int32_t startedKind = -1;
  qxplay::FrameQueue queue;
};

}  // namespace player_test
