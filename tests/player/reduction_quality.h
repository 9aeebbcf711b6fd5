// How close the player's reduction of a picture, converted to 32-bit RGB, comes to libswscale's
// bilinear reduction of the same picture to the same size: for the scaler's tests and for
// bench_convert.
#pragma once

#include <cstdint>
#include <vector>

#include "player/video/convert/color_convert.h"
#include "player/media/pixel_format.h"

namespace qxplay {

// A picture like a camera's scene: shading, coloured boxes with sharp edges, fine stripes and a
// little noise; chroma planes of the rounded-up size, as a decoder gives them.
struct ScenePicture {
  std::vector<uint8_t> y, u, v;
  I420View view;
};
ScenePicture MakeScenePicture(int width, int height);

// PSNR in dB of the red, green and blue of `src` reduced to width x height and converted by the
// player (`path`) against libswscale's SWS_BILINEAR of it; 99 when they agree on every byte,
// -1 when either side could not be made.
double ReducedPsnr(const I420View& src, int width, int height,
                   ConvertPath path = BestConvertPath());

}  // namespace qxplay
