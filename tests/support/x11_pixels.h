// Reading and drawing colours on an X server, for tests that check what a
// screen shows. Include after gtest, Qt and the project's headers: Xlib's
// macros (None, Bool, Status) clash with their names. Functions take the
// caller's Display and are used from the thread that opened it.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <string>

namespace qnchat_test {

struct Rgb {
  int r, g, b;
};

inline bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

inline Rgb PixelToRgb(unsigned long pixel) {
  return Rgb{static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
             static_cast<int>(pixel & 0xFF)};
}

// One pixel of a window as its server draws it; {-1000, -1000, -1000} (near
// no colour) when it cannot be read.
inline Rgb ReadPixel(Display* display, Window window, int x, int y) {
  XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return Rgb{-1000, -1000, -1000};
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return PixelToRgb(pixel);
}

// The top-level window whose WM_CLASS class is wanted, or 0.
inline Window FindWindowOfClass(Display* display, const char* wanted) {
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  for (unsigned int i = 0; i < count && !found; ++i) {
    XClassHint hint{};
    if (XGetClassHint(display, children[i], &hint)) {
      if (hint.res_class && std::string(hint.res_class) == wanted) found = children[i];
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
  }
  if (children) XFree(children);
  return found;
}

// Quadrants in the order top left, top right, bottom left, bottom right.
using Quadrants = Rgb[4];

// True when the window is mapped and the middle of each of its quadrants is
// within tolerance of the colour given for it.
inline bool ShowsQuadrants(Display* display, Window window, const Quadrants& colours,
                           int tolerance) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    const int x = (i % 2) * attributes.width / 2 + attributes.width / 4;
    const int y = (i / 2) * attributes.height / 2 + attributes.height / 4;
    if (!Near(ReadPixel(display, window, x, y), colours[i], tolerance)) return false;
  }
  return true;
}

// Four override-redirect windows of solid colour covering a screen, drawn by
// its X server itself; gone with the object.
class ScreenPattern {
 public:
  ScreenPattern(Display* display, const Quadrants& colours) : display_(display) {
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    for (int i = 0; i < 4; ++i) {
      XSetWindowAttributes attributes{};
      attributes.override_redirect = True;
      const Rgb c = colours[i];
      attributes.background_pixel = (static_cast<unsigned long>(c.r) << 16) | (c.g << 8) | c.b;
      windows_[i] = XCreateWindow(display, DefaultRootWindow(display), (i % 2) * width / 2,
                                  (i / 2) * height / 2, width / 2, height / 2, 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel,
                                  &attributes);
      XMapRaised(display, windows_[i]);
    }
    XSync(display, False);
  }
  ~ScreenPattern() {
    for (Window w : windows_) XDestroyWindow(display_, w);
    XSync(display_, False);
  }
  ScreenPattern(const ScreenPattern&) = delete;
  ScreenPattern& operator=(const ScreenPattern&) = delete;

 private:
  Display* display_;
  Window windows_[4];
};

}  // namespace qnchat_test
