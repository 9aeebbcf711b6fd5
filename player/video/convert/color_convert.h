// I420 to RGB conversion into the off-screen picture (ITU-R BT.601, limited range), in 16-bit
// signed fixed point: Y' = Y - 16 saturating at 0, U' = U - 128, V' = V - 128, every term
// value x 8 x coefficient / 65536 (the high half of the product), sums saturated to 16 bits and
// then clamped to 0..255. The scalar reference and the SIMD versions agree on every byte.
#pragma once

#include "player/media/pixel_format.h"

namespace rovik::player {

enum class ConvertPath { kScalar, kSse2, kAvx2 };

// How the picture is written: through this core's caches, or around them (non-temporal stores,
// the 32-bit layout on 32-byte boundaries, AVX2). A picture that only the window system reads
// next, on the other core, costs less in all written around them (measured with the player on
// an X server); one this core goes on with is better in its caches.
enum class Stores { kCached, kAroundCaches };

// Converts the top-left part of `src` that fits into `dst`, every column and row of it. Rows are
// taken in pairs sharing one chroma row (or one by one, each with its own, see I420View); an
// odd last row uses the last chroma row, and columns beyond the chroma plane use its last
// column. A chroma plane as wide as the picture gives every column its own sample. Nothing outside
// the planes or the picture is touched. The fastest path this processor supports is chosen once.
void ConvertI420(const I420View& src, const SurfaceView& dst, Stores stores = Stores::kCached);

// The same with a named path; a path the processor lacks falls back to the scalar reference.
void ConvertI420With(ConvertPath path, const I420View& src, const SurfaceView& dst,
                     Stores stores = Stores::kCached);

bool ConvertPathSupported(ConvertPath path);
ConvertPath BestConvertPath();
const char* ConvertPathName(ConvertPath path);

}  // namespace rovik::player
