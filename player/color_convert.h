// I420 to RGB conversion into the off-screen picture (ITU-R BT.601, limited range), in 16-bit
// signed fixed point: Y' = Y - 16 saturating at 0, U' = U - 128, V' = V - 128, every term
// value x 8 x coefficient / 65536 (the high half of the product), sums saturated to 16 bits and
// then clamped to 0..255. The scalar reference and the SIMD versions agree on every byte.
#pragma once

#include "player/pixel_format.h"

namespace qxplay {

enum class ConvertPath { kScalar, kSse2, kAvx2 };

// Converts the top-left part of `src` that fits into `dst`, every column and row of it. Rows are
// taken in pairs sharing one chroma row (or one by one, each with its own, see I420View); an
// odd last row uses the last chroma row, and columns beyond the chroma plane use its last
// column. Nothing outside the planes or the picture is
// touched. The fastest path this processor supports is chosen once.
void ConvertI420(const I420View& src, const SurfaceView& dst);

// The same with a named path; a path the processor lacks falls back to the scalar reference.
void ConvertI420With(ConvertPath path, const I420View& src, const SurfaceView& dst);

bool ConvertPathSupported(ConvertPath path);
ConvertPath BestConvertPath();
const char* ConvertPathName(ConvertPath path);

}  // namespace qxplay
