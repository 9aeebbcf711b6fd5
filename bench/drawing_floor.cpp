#include "bench/drawing_floor.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "bench/picture_cpu.h"
#include "player/color_convert.h"
#include "player/picture_scaler.h"

namespace bench {
namespace {

constexpr int kPictures = 16;

struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// The first kPictures pictures of the clip, decoded with the player's settings.
std::vector<FramePtr> DecodeSome(const std::vector<player_test::ClipFrame>& clip) {
  std::vector<FramePtr> pictures;
  AVCodecContext* context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
  if (context == nullptr) {
    return pictures;
  }
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  AVPacket* packet = av_packet_alloc();
  if (avcodec_open2(context, context->codec, nullptr) == 0 && packet != nullptr) {
    std::vector<uint8_t> padded;
    for (size_t i = 0; i < clip.size() && pictures.size() < kPictures; ++i) {
      padded.assign(clip[i].bytes.begin(), clip[i].bytes.end());
      padded.resize(clip[i].bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      packet->data = padded.data();
      packet->size = static_cast<int>(clip[i].bytes.size());
      avcodec_send_packet(context, packet);
      for (;;) {
        FramePtr frame(av_frame_alloc());
        if (frame == nullptr || avcodec_receive_frame(context, frame.get()) != 0) {
          break;
        }
        if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) {
          pictures.push_back(std::move(frame));
        }
      }
    }
  }
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return pictures;
}

qxplay::I420View ViewOf(const AVFrame& f) {
  qxplay::I420View v;
  v.y = f.data[0];
  v.u = f.data[1];
  v.v = f.data[2];
  v.yStride = f.linesize[0];
  v.uStride = f.linesize[1];
  v.vStride = f.linesize[2];
  v.width = f.width;
  v.height = f.height;
  v.chromaWidth = (f.width + 1) / 2;
  v.chromaHeight = (f.height + 1) / 2;
  return v;
}

// Reads every cache line of the picture, as a player's decoder has just written it: the drawing
// that follows finds it in this core's caches.
void Touch(const AVFrame& f) {
  uint32_t sum = 0;
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? f.height : (f.height + 1) / 2;
    const int bytes = plane == 0 ? f.width : (f.width + 1) / 2;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* row = f.data[plane] + static_cast<ptrdiff_t>(y) * f.linesize[plane];
      for (int x = 0; x < bytes; x += 64) {
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
  out.image = XShmCreateImage(display, DefaultVisual(display, screen),
                              static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap,
                              nullptr, &out.shm, static_cast<unsigned>(width),
                              static_cast<unsigned>(height));
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
  const std::vector<FramePtr> pictures = DecodeSome(clip);
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
    qxplay::PictureScaler scaler;
    size_t next = 0;
    double drawing = 0;
    const auto round = [&] {
      for (size_t i = 0; i < windows.size(); ++i) {
        XImage* image = images[i].image;
        const AVFrame& picture = *pictures[next++ % pictures.size()];
        Touch(picture);
        const qxplay::I420View source = ViewOf(picture);
        const qxplay::SurfaceView surface{reinterpret_cast<uint8_t*>(image->data),
                                          image->bytes_per_line, width, height,
                                          qxplay::kPixelFormatRgb32};
        const double t0 = CallingThreadCpuSeconds();
        if (width < source.width || height < source.height) {
          qxplay::ConvertI420(scaler.Scale(source, std::min(width, source.width),
                                           std::min(height, source.height)),
                              surface, qxplay::Stores::kAroundCaches);
        } else {
          qxplay::ConvertI420(source, surface, qxplay::Stores::kAroundCaches);
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

}  // namespace bench
