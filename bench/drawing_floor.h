// The least that showing a decoded picture in a window can cost beyond its decode, for the
// benches to print beside what the players paid: our reduction and conversion of the picture,
// and the X server's taking it into the window, with no player, thread or queue around them.
// However the players are built, a picture costs at least its bare decode plus these two.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <vector>

#include "tests/player/fixtures/clip_reader.h"

namespace bench {

struct DrawingFloor {
  double drawMs = 0;    // this thread: reduction (when the window is smaller) and conversion
  double serverMs = 0;  // the X server: taking the picture into the window
};

// Both measured per picture as a player draws, with nothing else in between: sixteen decoded
// pictures of the clip taken in turn (as sixteen cameras' would be), each read into the caches
// first (as its decoder leaves it), then made into a width x height 32-bit picture of its
// window's shared image, written around the caches, and put into the window; every window's
// picture in turn, then one round trip. Over a connection
// of its own to $DISPLAY, whose server is process `server`. Zeros when the clip gives no
// picture, or the display does not open, offers no shared memory or no 32-bit pictures.
DrawingFloor MeasureDrawingFloor(const std::vector<player_test::ClipFrame>& clip,
                                 const std::vector<Window>& windows, int width, int height,
                                 pid_t server);

// For information beside a wall's floor: the bare decodes of `clip` as a live wall runs them
// (PacedBareDecodeMs: `streams` threads at 25 pictures a second, everything else stopped), and
// the floor and ratio with them in place of `bareMs`, the bare decode one picture after the other
// (`overBareMs`: the rest of the floor; `totalMs`: what the wall cost).
void PrintPacedFloor(const std::vector<player_test::ClipFrame>& clip, int streams, double bareMs,
                     double overBareMs, double totalMs);

}  // namespace bench
