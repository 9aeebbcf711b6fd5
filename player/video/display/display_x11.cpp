// The display back end for X11 windows: one connection to $DISPLAY per surface, the off-screen
// picture an XImage (in shared memory when the server offers MIT-SHM), and the stretch done by
// the server through XRender into a client-sized back pixmap, which is then copied to the window.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "player/video/display/display_backend.h"

namespace rovik::player {
namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14; older kernels refuse it, which is harmless
#endif

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
  // One off-screen picture: an XImage, in shared memory when the server takes it.
  struct Image {
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool attached = false;  // shared with the server
    bool pending = false;   // put to the server, which may still be reading it
  };

  ~X11DisplayBackend() override;
  PixelFormatCode Open(uintptr_t window, int32_t width, int32_t height) override;
  bool Resize(int32_t width, int32_t height) override;
  void Capacity(int32_t* width, int32_t* height) const override;
  SurfaceView Picture(int32_t width, int32_t height) override;
  bool ClientSize(int32_t* width, int32_t* height) override;
  bool Present(int32_t width, int32_t height, std::span<const DisplayOverlay> overlays) override;

 private:
  PixelFormatCode FormatOf(const XWindowAttributes& attributes) const;
  Image& Current() { return images_[current_]; }
  // Bytes per row of a picture `width` pixels wide, packed as the server reads such a picture.
  int PackedPitch(const XImage& image, int32_t width) const {
    const int pad = image.bitmap_pad > 0 ? image.bitmap_pad : 32;
    return static_cast<int>((static_cast<int64_t>(width) * image.bits_per_pixel + pad - 1) / pad *
                            (pad / 8));
  }
  bool PutPicture(Drawable target, int32_t width, int32_t height);
  bool EnsureBack(int32_t width, int32_t height);
  bool EnsureSource(int32_t width, int32_t height);
  void FreePixmaps();

  bool MakeImage(Image& target, int32_t width, int32_t height);
  // Black with the alpha byte of a 32-bit window set, so that a compositor shows it opaque.
  unsigned long OpaqueBlack() const { return depth_ == 32 ? 0xFF000000UL : 0UL; }
  void FreeImage(Image& target);
  // Takes in the window's news and the server's reports of finished puts, without waiting:
  // from the connection (a flush and a read of the socket), or only what Xlib has already read
  // (no system call; a draw reads the connection once, when it asks for the window's size).
  enum class Events { kFromConnection, kAlreadyRead };
  void ReadEvents(Events from = Events::kFromConnection);
  // The window's size, the connection read unless this draw has read it already.
  bool DrawClientSize(int32_t* width, int32_t* height);
  // Waits until the server has finished every request sent so far; false on an X error.
  bool WaitServer();

  Display* display_ = nullptr;
  bool connectionRead_ = false;  // by this draw: since the last Present
  Window window_ = 0;
  // The window's size, followed through its ConfigureNotify events (no round trip per picture).
  int32_t clientWidth_ = 0;
  int32_t clientHeight_ = 0;
  bool windowGone_ = false;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  PixelFormatCode format_ = kPixelFormatNone;
  GC gc_ = nullptr;
  // Two pictures in turn when shared memory is used: the CPU writes one while the server may
  // still be reading the other, so a picture never waits for the server's last copy. The
  // second is made the first time it is needed.
  Image images_[2];
  int current_ = 0;
  bool shmOffered_ = false;
  int completionEvent_ = -1;  // event type of the server's "finished reading" report
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
  FreePixmaps();
  for (Image& image : images_) {
    FreeImage(image);
  }
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
  if (bitsPerPixel == 16 && v->red_mask == 0xF800 && v->green_mask == 0x7E0 &&
      v->blue_mask == 0x1F) {
    return kPixelFormatRgb565;
  }
  if (bitsPerPixel == 16 && v->red_mask == 0x7C00 && v->green_mask == 0x3E0 &&
      v->blue_mask == 0x1F) {
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
  // Resizes are followed through ConfigureNotify events: they are selected before the size is
  // read, so a resize between the two cannot go unseen.
  XSelectInput(display_, window_, StructureNotifyMask);
  XWindowAttributes attributes{};
  tErrorSeen = false;
  if (XGetWindowAttributes(display_, window_, &attributes) == 0 || !SyncClean(display_)) {
    return kPixelFormatNone;
  }
  visual_ = attributes.visual;
  depth_ = attributes.depth;
  clientWidth_ = attributes.width;
  clientHeight_ = attributes.height;
  format_ = FormatOf(attributes);
  if (format_ == kPixelFormatNone) {
    return kPixelFormatNone;
  }
  gc_ = XCreateGC(display_, window_, 0, nullptr);
  // Shared memory only serves a server on this machine that stores pixels our way round.
  shmOffered_ = XShmQueryExtension(display_) == True && ImageByteOrder(display_) == LSBFirst;
  if (shmOffered_) {
    completionEvent_ = XShmGetEventBase(display_) + ShmCompletion;
  }
  int eventBase = 0;
  int errorBase = 0;
  if (XRenderQueryExtension(display_, &eventBase, &errorBase)) {
    renderFormat_ = XRenderFindVisualFormat(display_, visual_);
  }
  if (!MakeImage(images_[0], width, height) || !SyncClean(display_)) {
    return kPixelFormatNone;
  }
  current_ = 0;
  return format_;
}

bool X11DisplayBackend::MakeImage(Image& target, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    return false;
  }
  FreeImage(target);
  if (shmOffered_) {
    XShmSegmentInfo& shm = target.shm;
    target.image =
        XShmCreateImage(display_, visual_, depth_, ZPixmap, nullptr, &shm, width, height);
    if (target.image != nullptr) {
      const size_t bytes = static_cast<size_t>(target.image->bytes_per_line) * height;
      shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      if (shm.shmid >= 0) {
        shm.shmaddr = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
        if (shm.shmaddr != reinterpret_cast<char*>(-1)) {
          // Map every page now, in one go, rather than one fault at a time during the first
          // picture. Kernels without it leave the pages to come as they are touched.
          madvise(shm.shmaddr, bytes, kPopulateWrite);
          target.image->data = shm.shmaddr;
          shm.readOnly = False;
          XShmAttach(display_, &shm);
          target.attached = SyncClean(display_);
        }
        // The segment goes away with its last user, this process included.
        shmctl(shm.shmid, IPC_RMID, nullptr);
      }
      if (!target.attached) {
        // Refused (a remote server, no rights): plain images from now on.
        shmOffered_ = false;
        FreeImage(target);
      }
    }
  }
  if (target.image == nullptr) {
    target.image =
        XCreateImage(display_, visual_, depth_, ZPixmap, 0, nullptr, width, height, 32, 0);
    if (target.image == nullptr) {
      return false;
    }
    target.image->byte_order = LSBFirst;
    target.image->data =
        static_cast<char*>(std::calloc(static_cast<size_t>(target.image->bytes_per_line), height));
    if (target.image->data == nullptr) {
      XDestroyImage(target.image);
      target.image = nullptr;
      return false;
    }
  }
  return true;
}

void X11DisplayBackend::FreeImage(Image& target) {
  if (target.image == nullptr) {
    return;
  }
  XShmSegmentInfo& shm = target.shm;
  if (target.attached) {
    // The server finishes any put of it before it takes the detach.
    XShmDetach(display_, &shm);
    SyncClean(display_);
    target.image->data = nullptr;
    XDestroyImage(target.image);
    shmdt(shm.shmaddr);
  } else if (shm.shmaddr != nullptr && shm.shmaddr != reinterpret_cast<char*>(-1) &&
             target.image->data == shm.shmaddr) {
    target.image->data = nullptr;
    XDestroyImage(target.image);
    shmdt(shm.shmaddr);
  } else {
    XDestroyImage(target.image);  // frees the calloc'd pixels too
  }
  target = Image{};
}

bool X11DisplayBackend::Resize(int32_t width, int32_t height) {
  if (display_ == nullptr || Current().image == nullptr) {
    return false;
  }
  // The new picture is made in the spare place (an XImage refers to its segment record by
  // address, so an Image is never moved); the current one goes only once the new one exists.
  // The spare is made again at the new size when it is next needed.
  const int spare = current_ ^ 1;
  FreeImage(images_[spare]);
  if (!MakeImage(images_[spare], width, height)) {
    FreeImage(images_[spare]);
    return false;
  }
  FreeImage(images_[current_]);
  current_ = spare;
  return true;
}

void X11DisplayBackend::ReadEvents(Events from) {
  // The connection is read once; what arrives while these are handled waits for the next time.
  connectionRead_ = connectionRead_ || from == Events::kFromConnection;
  for (int waiting = from == Events::kFromConnection ? XPending(display_)
                                                     : XEventsQueued(display_, QueuedAlready);
       waiting > 0; waiting = XEventsQueued(display_, QueuedAlready)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == ConfigureNotify && event.xconfigure.window == window_) {
      clientWidth_ = event.xconfigure.width;
      clientHeight_ = event.xconfigure.height;
    } else if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
      windowGone_ = true;
    } else if (event.type == completionEvent_) {
      const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
      for (Image& image : images_) {
        if (image.attached && image.shm.shmseg == done.shmseg) {
          image.pending = false;
        }
      }
    }
  }
}

bool X11DisplayBackend::WaitServer() {
  const bool clean = SyncClean(display_);
  ReadEvents(Events::kAlreadyRead);  // the sync has read everything up to it
  // Whatever was put has been read by now, reported or not (a put that failed reports nothing).
  for (Image& image : images_) {
    image.pending = false;
  }
  return clean;
}

void X11DisplayBackend::Capacity(int32_t* width, int32_t* height) const {
  const XImage* image = images_[current_].image;
  *width = image != nullptr ? image->width : 0;
  *height = image != nullptr ? image->height : 0;
}

SurfaceView X11DisplayBackend::Picture(int32_t width, int32_t height) {
  if (display_ == nullptr || Current().image == nullptr || width <= 0 || height <= 0 ||
      width > Current().image->width || height > Current().image->height) {
    return {};
  }
  // The CPU may write a picture only once the server has finished reading it: the other one is
  // taken when it is free, else the server is waited for. The reports read with the window's
  // size at the start of the draw usually tell; the connection is read only when they do not.
  ReadEvents(Events::kAlreadyRead);
  if (Current().pending) {
    Image& other = images_[current_ ^ 1];
    if (other.image == nullptr && shmOffered_) {
      MakeImage(other, Current().image->width, Current().image->height);
    }
    if (other.image != nullptr && other.pending) {
      ReadEvents();
    }
    if (other.image != nullptr && !other.pending) {
      current_ ^= 1;
    } else {
      WaitServer();
    }
  }
  // A picture narrower than the image is laid out at its own width rather than in the image's
  // rows: the server then takes it in one piece, as one block of memory, instead of a part of
  // every row of a larger image (which costs it about twice as much).
  const XImage* image = Current().image;
  return {reinterpret_cast<uint8_t*>(image->data), PackedPitch(*image, width), width, height,
          format_};
}

bool X11DisplayBackend::ClientSize(int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  if (display_ == nullptr) {
    return false;
  }
  // Take in the window's news without waiting: resizes, and its destruction by its owner.
  ReadEvents();
  return DrawClientSize(width, height);
}

bool X11DisplayBackend::DrawClientSize(int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  ReadEvents(connectionRead_ ? Events::kAlreadyRead : Events::kFromConnection);
  if (windowGone_) {
    return false;
  }
  *width = clientWidth_;
  *height = clientHeight_;
  return true;
}

bool X11DisplayBackend::PutPicture(Drawable target, int32_t width, int32_t height) {
  Image& image = Current();
  // The picture as Picture(width, height) laid it out: the image's memory, in rows of its width.
  XImage laidOut = *image.image;
  laidOut.width = width;
  laidOut.height = height;
  laidOut.bytes_per_line = PackedPitch(*image.image, width);
  if (image.attached) {
    // The server reports when it has read the picture; until then the CPU leaves it alone.
    XShmPutImage(display_, target, gc_, &laidOut, 0, 0, 0, 0, width, height, True);
    image.pending = true;
  } else {
    XPutImage(display_, target, gc_, &laidOut, 0, 0, 0, 0, width, height);
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
  if (display_ == nullptr || Current().image == nullptr) {
    return false;
  }
  width = std::min(width, Current().image->width);
  height = std::min(height, Current().image->height);
  int32_t clientWidth = 0;
  int32_t clientHeight = 0;
  // One read of the connection a draw: the window's size is usually asked at its start.
  const bool sized = width > 0 && height > 0 && DrawClientSize(&clientWidth, &clientHeight);
  connectionRead_ = false;
  if (!sized) {
    return false;
  }
  if (clientWidth <= 0 || clientHeight <= 0) {
    return true;
  }
  tErrorSeen = false;
  const bool sameSize = clientWidth == width && clientHeight == height;
  if (sameSize && overlays.empty()) {
    // The common case: the picture goes straight into the window. The server reads it while
    // the next picture is converted into the other one (Picture).
    PutPicture(window_, width, height);
    XFlush(display_);
    return true;
  }
  if (!EnsureBack(clientWidth, clientHeight)) {
    return false;
  }
  if (sameSize || renderFormat_ == nullptr || backPicture_ == 0) {
    // Without XRender the picture is shown unscaled at the top-left.
    XSetForeground(display_, gc_, OpaqueBlack());
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
  return true;
}

}  // namespace

std::unique_ptr<DisplayBackend> CreateX11DisplayBackend() {
  return std::make_unique<X11DisplayBackend>();
}

}  // namespace rovik::player
