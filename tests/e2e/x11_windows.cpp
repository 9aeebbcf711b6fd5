#include "tests/e2e/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>

namespace e2e {
namespace {

struct Display_ {
  Display* display = XOpenDisplay(nullptr);
  ~Display_() {
    if (display) XCloseDisplay(display);
  }
};

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

// The first window named `title` below w; with `viewable`, the first one on screen (Qt names its
// unmapped 1x1 group leader after the application too, and that one has no close button).
Window Search(Display* d, Window w, const std::string& title, int depth, bool viewable = false) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    bool match = title == name;
    XFree(name);
    XWindowAttributes attributes{};
    if (match && viewable) {
      match = XGetWindowAttributes(d, w, &attributes) && attributes.map_state == IsViewable;
    }
    if (match) return w;
  }
  if (depth > 6) return 0;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && !found; ++i)
    found = Search(d, children[i], title, depth + 1, viewable);
  if (children) XFree(children);
  return found;
}

void Describe(Display* d, Window w, int depth, std::string& out) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(d, w, &attributes);
    out += std::string(name) + (attributes.map_state == IsViewable ? ":viewable " : ":hidden ");
    XFree(name);
  }
  if (depth > 6) return;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count)) return;
  for (unsigned int i = 0; i < count; ++i) Describe(d, children[i], depth + 1, out);
  if (children) XFree(children);
}

}  // namespace

std::string DescribeX11Windows() {
  Display_ d;
  if (!d.display) return "no display";
  auto old = XSetErrorHandler(IgnoreErrors);
  std::string out;
  Describe(d.display, DefaultRootWindow(d.display), 0, out);
  XSync(d.display, False);
  XSetErrorHandler(old);
  return out;
}

unsigned long FindX11Window(const std::string& title) {
  Display_ d;
  if (!d.display) return 0;
  auto old = XSetErrorHandler(IgnoreErrors);
  Window w = Search(d.display, DefaultRootWindow(d.display), title, 0);
  XSync(d.display, False);
  XSetErrorHandler(old);
  return w;
}

bool X11WindowViewable(const std::string& title) {
  Display_ d;
  if (!d.display) return false;
  auto old = XSetErrorHandler(IgnoreErrors);
  const bool viewable = Search(d.display, DefaultRootWindow(d.display), title, 0, true) != 0;
  XSync(d.display, False);
  XSetErrorHandler(old);
  return viewable;
}

bool CloseX11Window(const std::string& title) {
  Display_ d;
  if (!d.display) return false;
  Window w = Search(d.display, DefaultRootWindow(d.display), title, 0, true);
  if (!w) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = w;
  event.xclient.message_type = XInternAtom(d.display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(d.display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d.display, w, False, NoEventMask, &event);
  XFlush(d.display);
  return true;
}

std::vector<uint32_t> GrabX11Window(unsigned long window, int* width, int* height) {
  Display_ d;
  std::vector<uint32_t> pixels;
  if (!d.display || window == 0) return pixels;
  auto old = XSetErrorHandler(IgnoreErrors);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(d.display, window, &attributes) && attributes.width > 0) {
    XImage* image =
        XGetImage(d.display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (image) {
      pixels.reserve(static_cast<std::size_t>(attributes.width) * attributes.height);
      for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
          pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y) & 0xffffff));
        }
      }
      if (width) *width = attributes.width;
      if (height) *height = attributes.height;
      XDestroyImage(image);
    }
  }
  XSync(d.display, False);
  XSetErrorHandler(old);
  return pixels;
}

}  // namespace e2e
