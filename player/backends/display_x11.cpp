// The display back end for X11 windows: one connection to $DISPLAY per surface, the off-screen
// picture an XImage (in shared memory when the server offers MIT-SHM), and the stretch done by
// the server through XRender into a client-sized back pixmap, which is then copied to the window.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "player/backends/display_backend.h"

namespace qxplay {
namespace {

// X errors on our connections (a window destroyed by its owner, a refused shared segment) must
// not end the process, as Xlib's default handler would. Other connections keep the handler
// that was there before.
std::mutex gErrorLock;  // guards gOurDisplays, gPreviousHandler
std::set<Display*> gOurDisplays;
XErrorHandler gPreviousHandler = nullptr;
thread_local bool tErrorSeen = false;

int OnXError(Display* display, XErrorEvent* event) {
  XErrorHandler previous = nullptr;
  {
    std::lock_guard<std::mutex> hold(gErrorLock);
    if (gOurDisplays.count(display) != 0) {
      tErrorSeen = true;
      return 0;
    }
    previous = gPreviousHandler;
  }
  return previous != nullptr ? previous(display, event) : 0;
}

Display* OpenDisplay() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    std::lock_guard<std::mutex> hold(gErrorLock);
    gPreviousHandler = XSetErrorHandler(&OnXError);
  });
  Display* display = XOpenDisplay(nullptr);
  if (display != nullptr) {
    std::lock_guard<std::mutex> hold(gErrorLock);
    gOurDisplays.insert(display);
  }
  return display;
}

void CloseDisplay(Display* display) {
  XCloseDisplay(display);
  std::lock_guard<std::mutex> hold(gErrorLock);
  gOurDisplays.erase(display);
}

// True when the requests sent so far went through without an X error.
bool SyncClean(Display* display) {
  tErrorSeen = false;
  XSync(display, False);
  const bool clean = !tErrorSeen;
  tErrorSeen = false;
  return clean;
}

class X11DisplayBackend : public DisplayBackend {
 public:
  ~X11DisplayBackend() override;
  PixelFormatCode Open(uintptr_t window, int32_t width, int32_t height) override;
  bool Grow(int32_t width, int32_t height) override;
  SurfaceView Picture() override;
  bool ClientSize(int32_t* width, int32_t* height) override;
  bool Present(int32_t width, int32_t height, std::span<const DisplayOverlay> overlays) override;

 private:
  PixelFormatCode FormatOf(const XWindowAttributes& attributes) const;
  bool MakeImage(int32_t width, int32_t height);
  void FreeImage();
  bool PutPicture(Drawable target, int32_t width, int32_t height);
  bool EnsureBack(int32_t width, int32_t height);
  bool EnsureSource(int32_t width, int32_t height);
  void FreePixmaps();

  // Waits until the server has read the shared picture of the last present; false on an error.
  bool FinishPresent();

  Display* display_ = nullptr;
  Window window_ = 0;
  // The window's size, followed through its ConfigureNotify events (no round trip per picture).
  int32_t clientWidth_ = 0;
  int32_t clientHeight_ = 0;
  bool windowGone_ = false;
  bool presentPending_ = false;  // requests sent by Present that the server may still be reading
  Visual* visual_ = nullptr;
  int depth_ = 0;
  PixelFormatCode format_ = kPixelFormatNone;
  GC gc_ = nullptr;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shmAttached_ = false;
  bool shmOffered_ = false;
  XRenderPictFormat* renderFormat_ = nullptr;  // null: no XRender, pictures are not stretched
  Pixmap back_ = 0;                            // client-sized, what the window receives
  ::Picture backPicture_ = 0;
  int32_t backWidth_ = 0;
  int32_t backHeight_ = 0;
  Pixmap source_ = 0;  // the picture on the server side, stretched into back_
  ::Picture sourcePicture_ = 0;
  int32_t sourceWidth_ = 0;
  int32_t sourceHeight_ = 0;
};

X11DisplayBackend::~X11DisplayBackend() {
  if (display_ == nullptr) {
    return;
  }
  FinishPresent();
  FreePixmaps();
  FreeImage();
  if (gc_ != nullptr) {
    XFreeGC(display_, gc_);
  }
  SyncClean(display_);
  CloseDisplay(display_);
}

PixelFormatCode X11DisplayBackend::FormatOf(const XWindowAttributes& attributes) const {
  const Visual* v = attributes.visual;
  if (v == nullptr || (v->c_class != TrueColor && v->c_class != DirectColor)) {
    return kPixelFormatNone;
  }
  int bitsPerPixel = 0;
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display_, &count);
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == attributes.depth) {
      bitsPerPixel = formats[i].bits_per_pixel;
    }
  }
  if (formats != nullptr) {
    XFree(formats);
  }
  const bool rgb888 = v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
  if (bitsPerPixel == 32 && rgb888) {
    return kPixelFormatRgb32;
  }
  if (bitsPerPixel == 24 && rgb888) {
    return kPixelFormatRgb24;
  }
  if (bitsPerPixel == 16 && v->red_mask == 0xF800 && v->green_mask == 0x7E0 && v->blue_mask == 0x1F) {
    return kPixelFormatRgb565;
  }
  if (bitsPerPixel == 16 && v->red_mask == 0x7C00 && v->green_mask == 0x3E0 && v->blue_mask == 0x1F) {
    return kPixelFormatRgb555;
  }
  return kPixelFormatNone;
}

PixelFormatCode X11DisplayBackend::Open(uintptr_t window, int32_t width, int32_t height) {
  if (window == 0 || display_ != nullptr) {
    return kPixelFormatNone;
  }
  display_ = OpenDisplay();
  if (display_ == nullptr) {
    return kPixelFormatNone;
  }
  window_ = static_cast<Window>(window);
  XWindowAttributes attributes{};
  tErrorSeen = false;
  if (XGetWindowAttributes(display_, window_, &attributes) == 0 || !SyncClean(display_)) {
    return kPixelFormatNone;
  }
  visual_ = attributes.visual;
  depth_ = attributes.depth;
  clientWidth_ = attributes.width;
  clientHeight_ = attributes.height;
  XSelectInput(display_, window_, StructureNotifyMask);
  format_ = FormatOf(attributes);
  if (format_ == kPixelFormatNone) {
    return kPixelFormatNone;
  }
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  // Shared memory only serves a server on this machine that stores pixels our way round.
  shmOffered_ = XShmQueryExtension(display_) == True && ImageByteOrder(display_) == LSBFirst;
  int eventBase = 0;
  int errorBase = 0;
  if (XRenderQueryExtension(display_, &eventBase, &errorBase)) {
    renderFormat_ = XRenderFindVisualFormat(display_, visual_);
  }
  if (!MakeImage(width, height) || !SyncClean(display_)) {
    return kPixelFormatNone;
  }
  return format_;
}

bool X11DisplayBackend::MakeImage(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    return false;
  }
  FreeImage();
  if (shmOffered_) {
    image_ = XShmCreateImage(display_, visual_, depth_, ZPixmap, nullptr, &shm_, width, height);
    if (image_ != nullptr) {
      shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * height,
                          IPC_CREAT | 0600);
      if (shm_.shmid >= 0) {
        shm_.shmaddr = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        if (shm_.shmaddr != reinterpret_cast<char*>(-1)) {
          image_->data = shm_.shmaddr;
          shm_.readOnly = False;
          XShmAttach(display_, &shm_);
          shmAttached_ = SyncClean(display_);
        }
        // The segment goes away with its last user, this process included.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
      }
      if (!shmAttached_) {
        // Refused (a remote server, no rights): plain images from now on.
        shmOffered_ = false;
        FreeImage();
      }
    }
  }
  if (image_ == nullptr) {
    image_ = XCreateImage(display_, visual_, depth_, ZPixmap, 0, nullptr, width, height, 32, 0);
    if (image_ == nullptr) {
      return false;
    }
    image_->byte_order = LSBFirst;
    image_->data = static_cast<char*>(std::calloc(static_cast<size_t>(image_->bytes_per_line), height));
    if (image_->data == nullptr) {
      XDestroyImage(image_);
      image_ = nullptr;
      return false;
    }
  }
  return true;
}

void X11DisplayBackend::FreeImage() {
  if (image_ == nullptr) {
    return;
  }
  if (shmAttached_) {
    XShmDetach(display_, &shm_);
    SyncClean(display_);
    image_->data = nullptr;
    XDestroyImage(image_);
    shmdt(shm_.shmaddr);
    shmAttached_ = false;
  } else if (shm_.shmaddr != nullptr && shm_.shmaddr != reinterpret_cast<char*>(-1) &&
             image_->data == shm_.shmaddr) {
    image_->data = nullptr;
    XDestroyImage(image_);
    shmdt(shm_.shmaddr);
  } else {
    XDestroyImage(image_);  // frees the calloc'd pixels too
  }
  shm_ = XShmSegmentInfo{};
  image_ = nullptr;
}

bool X11DisplayBackend::Grow(int32_t width, int32_t height) {
  if (display_ == nullptr || image_ == nullptr) {
    return false;
  }
  return MakeImage(std::max(width, image_->width), std::max(height, image_->height));
}

bool X11DisplayBackend::FinishPresent() {
  if (!presentPending_) {
    return true;
  }
  presentPending_ = false;
  return SyncClean(display_);
}

SurfaceView X11DisplayBackend::Picture() {
  // The CPU may write the picture only once the server has finished reading it.
  FinishPresent();
  if (image_ == nullptr) {
    return {};
  }
  return {reinterpret_cast<uint8_t*>(image_->data), image_->bytes_per_line, image_->width,
          image_->height, format_};
}

bool X11DisplayBackend::ClientSize(int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  if (display_ == nullptr) {
    return false;
  }
  // Take in the window's news without waiting: resizes, and its destruction by its owner.
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == ConfigureNotify && event.xconfigure.window == window_) {
      clientWidth_ = event.xconfigure.width;
      clientHeight_ = event.xconfigure.height;
    } else if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
      windowGone_ = true;
    }
  }
  if (windowGone_) {
    return false;
  }
  *width = clientWidth_;
  *height = clientHeight_;
  return true;
}

bool X11DisplayBackend::PutPicture(Drawable target, int32_t width, int32_t height) {
  if (shmAttached_) {
    XShmPutImage(display_, target, gc_, image_, 0, 0, 0, 0, width, height, False);
  } else {
    XPutImage(display_, target, gc_, image_, 0, 0, 0, 0, width, height);
  }
  return true;
}

bool X11DisplayBackend::EnsureBack(int32_t width, int32_t height) {
  if (back_ != 0 && backWidth_ == width && backHeight_ == height) {
    return true;
  }
  if (backPicture_ != 0) {
    XRenderFreePicture(display_, backPicture_);
    backPicture_ = 0;
  }
  if (back_ != 0) {
    XFreePixmap(display_, back_);
  }
  back_ = XCreatePixmap(display_, window_, width, height, depth_);
  backWidth_ = width;
  backHeight_ = height;
  if (renderFormat_ != nullptr) {
    backPicture_ = XRenderCreatePicture(display_, back_, renderFormat_, 0, nullptr);
  }
  return back_ != 0;
}

bool X11DisplayBackend::EnsureSource(int32_t width, int32_t height) {
  // Exactly the picture's size: the filter pads from the picture's own edges.
  if (source_ != 0 && sourceWidth_ == width && sourceHeight_ == height) {
    return true;
  }
  if (sourcePicture_ != 0) {
    XRenderFreePicture(display_, sourcePicture_);
    sourcePicture_ = 0;
  }
  if (source_ != 0) {
    XFreePixmap(display_, source_);
  }
  sourceWidth_ = width;
  sourceHeight_ = height;
  source_ = XCreatePixmap(display_, window_, width, height, depth_);
  XRenderPictureAttributes attributes{};
  attributes.repeat = RepeatPad;
  sourcePicture_ = XRenderCreatePicture(display_, source_, renderFormat_, CPRepeat, &attributes);
  XRenderSetPictureFilter(display_, sourcePicture_, FilterBilinear, nullptr, 0);
  return source_ != 0;
}

void X11DisplayBackend::FreePixmaps() {
  for (::Picture* p : {&backPicture_, &sourcePicture_}) {
    if (*p != 0) {
      XRenderFreePicture(display_, *p);
      *p = 0;
    }
  }
  for (Pixmap* p : {&back_, &source_}) {
    if (*p != 0) {
      XFreePixmap(display_, *p);
      *p = 0;
    }
  }
}

bool X11DisplayBackend::Present(int32_t width, int32_t height,
                                std::span<const DisplayOverlay> overlays) {
  if (display_ == nullptr || image_ == nullptr) {
    return false;
  }
  width = std::min(width, image_->width);
  height = std::min(height, image_->height);
  int32_t clientWidth = 0;
  int32_t clientHeight = 0;
  if (width <= 0 || height <= 0 || !ClientSize(&clientWidth, &clientHeight)) {
    return false;
  }
  if (clientWidth <= 0 || clientHeight <= 0) {
    return true;
  }
  tErrorSeen = false;
  const bool sameSize = clientWidth == width && clientHeight == height;
  if (sameSize && overlays.empty()) {
    // The common case: the picture goes straight into the window. The server reads it while
    // the next picture is decoded; the next write into it waits for that (FinishPresent).
    PutPicture(window_, width, height);
    XFlush(display_);
    presentPending_ = true;
    return true;
  }
  if (!EnsureBack(clientWidth, clientHeight)) {
    return false;
  }
  if (sameSize || renderFormat_ == nullptr || backPicture_ == 0) {
    // Without XRender the picture is shown unscaled at the top-left.
    XSetForeground(display_, gc_, 0);
    XFillRectangle(display_, back_, gc_, 0, 0, clientWidth, clientHeight);
    PutPicture(back_, width, height);
  } else {
    if (!EnsureSource(width, height)) {
      return false;
    }
    PutPicture(source_, width, height);
    XTransform scale{};
    scale.matrix[0][0] = XDoubleToFixed(static_cast<double>(width) / clientWidth);
    scale.matrix[1][1] = XDoubleToFixed(static_cast<double>(height) / clientHeight);
    scale.matrix[2][2] = XDoubleToFixed(1.0);
    XRenderSetPictureTransform(display_, sourcePicture_, &scale);
    XRenderComposite(display_, PictOpSrc, sourcePicture_, 0, backPicture_, 0, 0, 0, 0, 0, 0,
                     clientWidth, clientHeight);
  }
  for (const DisplayOverlay& o : overlays) {
    if (o.pixels == nullptr || o.width <= 0 || o.height <= 0) {
      continue;
    }
    XImage* piece = XCreateImage(display_, visual_, depth_, ZPixmap, 0,
                                 const_cast<char*>(reinterpret_cast<const char*>(o.pixels)),
                                 o.width, o.height, 32, o.pitch);
    if (piece == nullptr) {
      continue;
    }
    piece->byte_order = LSBFirst;
    XPutImage(display_, back_, gc_, piece, 0, 0, o.x, o.y, o.width, o.height);
    piece->data = nullptr;  // the overlay's pixels are not ours to free
    XDestroyImage(piece);
  }
  XCopyArea(display_, back_, window_, gc_, 0, 0, clientWidth, clientHeight, 0, 0);
  XFlush(display_);
  presentPending_ = true;
  return true;
}

}  // namespace

std::unique_ptr<DisplayBackend> CreateX11DisplayBackend() {
  return std::make_unique<X11DisplayBackend>();
}

}  // namespace qxplay
