#include "tests/player/reduction_quality.h"

#include <algorithm>
#include <cmath>
#include <random>

extern "C" {
#include <libswscale/swscale.h>
}

#include "player/video/convert/picture_scaler.h"

namespace qxplay {

ScenePicture MakeScenePicture(int width, int height) {
  ScenePicture p;
  const int cw = (width + 1) / 2;
  const int ch = (height + 1) / 2;
  p.y.resize(static_cast<size_t>(width) * height);
  p.u.resize(static_cast<size_t>(cw) * ch);
  p.v.resize(p.u.size());
  std::mt19937 rng(5);
  for (int r = 0; r < height; ++r) {
    for (int x = 0; x < width; ++x) {
      // Shading, a bright box, and stripes eight pixels wide in the lower part.
      int luma = 40 + 120 * x / width + 40 * r / height;
      if (x > width / 5 && x < width / 2 && r > height / 6 && r < height / 2) {
        luma = 200;
      }
      if (r > 2 * height / 3 && (x / 8) % 2 == 0) {
        luma -= 30;
      }
      luma += static_cast<int>(rng() % 5) - 2;
      p.y[static_cast<size_t>(r) * width + x] = static_cast<uint8_t>(std::clamp(luma, 16, 235));
    }
  }
  for (int r = 0; r < ch; ++r) {
    for (int c = 0; c < cw; ++c) {
      // Bars of colour across the top half, a smooth tint below.
      const bool top = r < ch / 2;
      const int bar = c * 7 / cw;
      const int u = top ? 60 + 25 * bar : 128 + 40 * c / cw;
      const int v = top ? 200 - 20 * bar : 100 + 50 * r / ch;
      p.u[static_cast<size_t>(r) * cw + c] = static_cast<uint8_t>(u);
      p.v[static_cast<size_t>(r) * cw + c] = static_cast<uint8_t>(v);
    }
  }
  p.view = {p.y.data(), p.u.data(), p.v.data(), width, cw, cw, width, height, cw, ch};
  return p;
}

double ReducedPsnr(const I420View& src, int width, int height, ConvertPath path) {
  PictureScaler scaler;
  const I420View& reduced = scaler.Scale(src, width, height, path);
  std::vector<uint8_t> ours(static_cast<size_t>(width) * height * 4);
  std::vector<uint8_t> theirs(ours.size());
  if (reduced.y == nullptr) {
    return -1;
  }
  ConvertI420With(path, reduced, SurfaceView{ours.data(), width * 4, width, height,
                                             kPixelFormatRgb32});
  SwsContext* sws = sws_getContext(src.width, src.height, AV_PIX_FMT_YUV420P, width, height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (sws == nullptr) {
    return -1;
  }
  const uint8_t* planes[3] = {src.y, src.u, src.v};
  const int strides[3] = {src.yStride, src.uStride, src.vStride};
  uint8_t* dst[1] = {theirs.data()};
  const int dstStride[1] = {width * 4};
  sws_scale(sws, planes, strides, 0, src.height, dst, dstStride);
  sws_freeContext(sws);
  double squares = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    if (i % 4 != 3) {  // the fourth byte is padding
      const double d = static_cast<double>(ours[i]) - theirs[i];
      squares += d * d;
    }
  }
  const double mse = squares / (static_cast<double>(width) * height * 3);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace qxplay
