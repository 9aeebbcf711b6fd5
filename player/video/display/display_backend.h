// Display back ends behind one table. A DisplaySurface talks to its back end only through this
// interface: an off-screen picture the CPU writes in the window's pixel layout, and a stretching
// copy of part of it onto the window's client area.
//
// Back ends: "x11" (the default; Xlib on $DISPLAY, MIT-SHM and XRender when offered) and "null"
// (no window system: the picture is kept in memory and every present is recorded). The name
// comes from the player's hooks, else from $ROVIK_DISPLAY, else the default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "player/media/pixel_format.h"

namespace rovik::player {

// A small picture in the back end's layout, put onto the client area after the stretch.
struct DisplayOverlay {
  const uint8_t* pixels = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t x = 0;  // client coordinates
  int32_t y = 0;
};

class DisplayBackend {
 public:
  virtual ~DisplayBackend() = default;
  // Binds to `window` and makes an off-screen picture of at least width x height in the
  // window's layout. Returns that layout, or kPixelFormatNone when it cannot.
  virtual PixelFormatCode Open(uintptr_t window, int32_t width, int32_t height) = 0;
  // Makes a new picture of at least width x height in place of the old one, larger or smaller
  // (its contents are lost). The old picture is let go only once the new one exists: false,
  // with the old picture kept as it was, when the new one cannot be made.
  virtual bool Resize(int32_t width, int32_t height) = 0;
  // The largest picture the off-screen picture holds.
  virtual void Capacity(int32_t* width, int32_t* height) const = 0;
  // The off-screen picture laid out for a picture of width x height (at most the capacity),
  // its rows packed as the window system takes a picture of that width in one piece. What is
  // written there is what Present(width, height) shows. Empty when the size does not fit.
  virtual SurfaceView Picture(int32_t width, int32_t height) = 0;
  // The window's current client size; false when the window is gone.
  virtual bool ClientSize(int32_t* width, int32_t* height) = 0;
  // Stretches the picture laid out by Picture(width, height) over the whole client area,
  // then puts the overlays on top; clipped to the window. False when nothing reached it.
  virtual bool Present(int32_t width, int32_t height, std::span<const DisplayOverlay> overlays) = 0;
};

struct DisplayBackendEntry {
  const char* name;
  std::unique_ptr<DisplayBackend> (*create)();
};

// Every back end of this build; the first is the default.
std::span<const DisplayBackendEntry> DisplayBackends();

// The back end of that name; null or empty: $ROVIK_DISPLAY, else the default. Null when the
// name is unknown.
std::unique_ptr<DisplayBackend> CreateDisplayBackend(const char* name);

}  // namespace rovik::player
