#include "bench/drawing_floor.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "bench/picture_cpu.h"
#include "player/video/convert/color_convert.h"
#include "player/video/convert/picture_scaler.h"
#include "player/video/decode/h264_decoder.h"

namespace bench {
namespace {

constexpr int kPictures = 16;

// The first kPictures pictures of the clip, decoded and held as the player holds them.
std::vector<std::unique_ptr<rovik::player::DecodedPicture>> DecodeSome(
    const std::vector<player_test::ClipFrame>& clip) {
  std::vector<std::unique_ptr<rovik::player::DecodedPicture>> pictures;
  rovik::player::H264Decoder decoder;
  for (size_t i = 0; decoder.Ready() && i < clip.size() && pictures.size() < kPictures; ++i) {
    auto picture = std::make_unique<rovik::player::DecodedPicture>();
    if (decoder.Decode(clip[i].bytes.data(), clip[i].bytes.size(), *picture) && !picture->Empty()) {
      pictures.push_back(std::move(picture));
    }
  }
  return pictures;
}

// Reads every cache line of the picture, as a player's decoder has just written it: the drawing
// that follows finds it in this core's caches.
void Touch(const rovik::player::I420View& v) {
  uint32_t sum = 0;
  const uint8_t* planes[3] = {v.y, v.u, v.v};
  const int32_t strides[3] = {v.yStride, v.uStride, v.vStride};
  for (int plane = 0; plane < 3; ++plane) {
    const int32_t rows = plane == 0 ? v.height : v.chromaHeight;
    const int32_t bytes = plane == 0 ? v.width : v.chromaWidth;
    for (int32_t y = 0; y < rows; ++y) {
      const uint8_t* row = planes[plane] + static_cast<ptrdiff_t>(y) * strides[plane];
      for (int32_t x = 0; x < bytes; x += 64) {
        sum += row[x];
      }
    }
  }
  volatile uint32_t sink = sum;
  (void)sink;
}

// A window's shared image, attached to the server.
struct SharedImage {
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool attached = false;
};

bool Attach(Display* display, int width, int height, SharedImage& out) {
  const int screen = DefaultScreen(display);
  out.image = XShmCreateImage(
      display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
      ZPixmap, nullptr, &out.shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (out.image == nullptr || out.image->bits_per_pixel != 32 ||
      out.image->byte_order != LSBFirst) {
    return false;
  }
  out.shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(out.image->bytes_per_line) * height,
                         IPC_CREAT | 0600);
  if (out.shm.shmid < 0) {
    return false;
  }
  out.shm.shmaddr = static_cast<char*>(shmat(out.shm.shmid, nullptr, 0));
  shmctl(out.shm.shmid, IPC_RMID, nullptr);  // gone with its last user
  if (out.shm.shmaddr == reinterpret_cast<char*>(-1)) {
    out.shm.shmaddr = nullptr;
    return false;
  }
  out.image->data = out.shm.shmaddr;
  out.shm.readOnly = True;
  out.attached = XShmAttach(display, &out.shm) == True;
  return out.attached;
}

void Release(Display* display, SharedImage& s) {
  if (s.attached) {
    XShmDetach(display, &s.shm);
    XSync(display, False);
  }
  if (s.shm.shmaddr != nullptr) {
    shmdt(s.shm.shmaddr);
  }
  if (s.image != nullptr) {
    s.image->data = nullptr;
    XDestroyImage(s.image);
  }
}

}  // namespace

DrawingFloor MeasureDrawingFloor(const std::vector<player_test::ClipFrame>& clip,
                                 const std::vector<Window>& windows, int width, int height,
                                 pid_t server) {
  DrawingFloor floor;
  const auto pictures = DecodeSome(clip);
  if (pictures.empty() || windows.empty() || width <= 0 || height <= 0 || server <= 0) {
    return floor;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return floor;
  }
  std::vector<SharedImage> images(windows.size());
  bool ready = XShmQueryExtension(display) == True;
  for (size_t i = 0; ready && i < images.size(); ++i) {
    ready = Attach(display, width, height, images[i]);
  }
  XSync(display, False);
  if (ready) {
    const GC gc = XCreateGC(display, windows.front(), 0, nullptr);
    rovik::player::PictureScaler scaler;
    size_t next = 0;
    double drawing = 0;
    const auto round = [&] {
      for (size_t i = 0; i < windows.size(); ++i) {
        XImage* image = images[i].image;
        const rovik::player::I420View& source = pictures[next++ % pictures.size()]->View();
        Touch(source);
        const rovik::player::SurfaceView surface{reinterpret_cast<uint8_t*>(image->data),
                                                 image->bytes_per_line, width, height,
                                                 rovik::player::kPixelFormatRgb32};
        const double t0 = CallingThreadCpuSeconds();
        if (width < source.width || height < source.height) {
          rovik::player::ConvertI420(
              scaler.Scale(source, std::min(width, source.width), std::min(height, source.height)),
              surface, rovik::player::Stores::kAroundCaches);
        } else {
          rovik::player::ConvertI420(source, surface, rovik::player::Stores::kAroundCaches);
        }
        drawing += CallingThreadCpuSeconds() - t0;
        XShmPutImage(display, windows[i], gc, image, 0, 0, 0, 0, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), False);
      }
      XSync(display, False);  // every image taken before it is written again
    };
    round();  // the scaler's filters and buffers made before the count starts
    drawing = 0;
    // About a thousand pictures, whatever the number of windows.
    const int rounds = std::max<int>(1, 960 / static_cast<int>(windows.size()));
    const double server0 = OtherProcessCpuSeconds(server);
    for (int r = 0; r < rounds; ++r) {
      round();
    }
    const double pictureCount = rounds * static_cast<double>(windows.size());
    floor.serverMs = (OtherProcessCpuSeconds(server) - server0) * 1000 / pictureCount;
    floor.drawMs = drawing * 1000 / pictureCount;
    XFreeGC(display, gc);
  }
  for (SharedImage& s : images) {
    Release(display, s);
  }
  XCloseDisplay(display);
  return floor;
}

void PrintPacedFloor(const std::vector<player_test::ClipFrame>& clip, int streams, double bareMs,
                     double overBareMs, double totalMs) {
  if (bareMs <= 0) {
    return;
  }
  // Each decoder comes back to its stream every 40 ms, on either processor, rather than one
  // decoder after the other on one: what decoding alone costs at a live wall's pace.
  std::vector<std::vector<uint8_t>> units;
  for (const player_test::ClipFrame& f : clip) units.push_back(f.bytes);
  const double paced = PacedBareDecodeMs(units, streams, 25, 3);
  const double floor = paced + overBareMs;
  std::printf(
      "  for information, the bare decodes on %d threads at 25 pictures a second each, nothing "
      "else: %.3f ms per picture (%.3f times the bare decode one after the other); with them in "
      "its place the floor is %.3f ms and the ratio %.3f\n",
      streams, paced, paced / bareMs, floor, floor > 0 ? totalMs / floor : 0.0);
}

}  // namespace bench
