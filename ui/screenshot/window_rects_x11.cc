#include "ui/screenshot/window_rects_x11.h"

#include <QGuiApplication>

// Xlib last: its macros (None, Bool, Status…) would clash with Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

namespace screenshot {

QRect WindowClientAt(const QVector<WindowRect>& top_first, const QPoint& pos, const QSize& overlay_size,
                     const QVector<unsigned long>& skip) {
  for (const WindowRect& window : top_first) {
    if (!window.frame.contains(pos)) continue;
    if (window.frame.width() >= overlay_size.width() && window.frame.height() >= overlay_size.height()) continue;
    if (skip.contains(window.id) || !window.viewable || window.client.isNull()) continue;
    return window.client;
  }
  return QRect();
}

namespace {

// A window can vanish between listing and asking; the default handler would
// end the program for that, so errors only mark the answer as unusable.
bool g_x_error = false;
int SwallowXError(Display*, XErrorEvent*) {
  g_x_error = true;
  return 0;
}

// Reads a 32-bit-format property as a list of longs (Xlib's representation).
QVector<unsigned long> LongProperty(Display* display, Window window, Atom property, Atom type) {
  QVector<unsigned long> values;
  Atom actual_type = 0;
  int actual_format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1 << 16, False, type, &actual_type, &actual_format,
                         &count, &remaining, &data) == Success &&
      data != nullptr) {
    if (actual_type == type && actual_format == 32) {
      const unsigned long* longs = reinterpret_cast<const unsigned long*>(data);
      values.reserve(static_cast<int>(count));
      for (unsigned long i = 0; i < count; ++i) values.append(longs[i]);
    }
  }
  if (data != nullptr) XFree(data);
  return values;
}

bool HasProperty(Display* display, Window window, Atom property) {
  Atom actual_type = 0;
  int actual_format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const bool ok = XGetWindowProperty(display, window, property, 0, 0, False, AnyPropertyType, &actual_type,
                                     &actual_format, &count, &remaining, &data) == Success &&
                  actual_type != 0;
  if (data != nullptr) XFree(data);
  return ok;
}

// The window's rectangle in root coordinates, or null when it cannot be read.
QRect RootRect(Display* display, Window root, Window window, bool* viewable) {
  XWindowAttributes attributes;
  g_x_error = false;
  if (XGetWindowAttributes(display, window, &attributes) == 0 || g_x_error) return QRect();
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child) || g_x_error) return QRect();
  if (viewable != nullptr) *viewable = attributes.map_state == IsViewable;
  return QRect(x, y, attributes.width, attributes.height);
}

// The child of the root that holds `window` (the manager's frame), or the
// window itself when it is a child of the root already.
Window TopAncestor(Display* display, Window root, Window window) {
  for (int depth = 0; depth < 16; ++depth) {
    Window root_return = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    g_x_error = false;
    if (XQueryTree(display, window, &root_return, &parent, &children, &count) == 0 || g_x_error) return window;
    if (children != nullptr) XFree(children);
    if (parent == root || parent == 0) return window;
    window = parent;
  }
  return window;
}

// Below a frame of a manager without the stacking list: the first window
// carrying WM_STATE is the client; the frame itself when there is none.
Window FindClient(Display* display, Window frame, Atom wm_state, int depth = 0) {
  if (HasProperty(display, frame, wm_state)) return frame;
  if (depth > 4) return 0;
  Window root_return = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  g_x_error = false;
  if (XQueryTree(display, frame, &root_return, &parent, &children, &count) == 0 || g_x_error) return 0;
  Window found = 0;
  for (unsigned int i = count; i-- > 0 && found == 0;) found = FindClient(display, children[i], wm_state, depth + 1);
  if (children != nullptr) XFree(children);
  return found;
}

bool IsHidden(Display* display, Window window, Atom net_wm_state, Atom hidden) {
  return LongProperty(display, window, net_wm_state, XA_ATOM).contains(hidden);
}

}  // namespace

QVector<WindowRect> ListTopLevelWindows() {
  QVector<WindowRect> windows;
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return windows;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return windows;
  XErrorHandler previous = XSetErrorHandler(SwallowXError);

  const Window root = DefaultRootWindow(display);
  const Atom stacking = XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False);
  const Atom net_wm_state = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom hidden = XInternAtom(display, "_NET_WM_STATE_HIDDEN", False);
  const Atom wm_state = XInternAtom(display, "WM_STATE", False);

  // Both lists run bottom to top.
  const QVector<unsigned long> clients = LongProperty(display, root, stacking, XA_WINDOW);
  if (!clients.isEmpty()) {
    for (int i = clients.size() - 1; i >= 0; --i) {
      const Window client = clients[i];
      WindowRect rect;
      rect.id = client;
      bool mapped = false;
      rect.client = RootRect(display, root, client, &mapped);
      if (rect.client.isNull()) continue;
      rect.frame = RootRect(display, root, TopAncestor(display, root, client), nullptr);
      if (rect.frame.isNull()) rect.frame = rect.client;
      rect.viewable = mapped && !IsHidden(display, client, net_wm_state, hidden);
      windows.append(rect);
    }
  } else {
    Window root_return = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &root_return, &parent, &children, &count) != 0) {
      for (unsigned int i = count; i-- > 0;) {
        WindowRect rect;
        rect.id = children[i];
        bool mapped = false;
        rect.frame = RootRect(display, root, children[i], &mapped);
        if (rect.frame.isNull()) continue;
        rect.viewable = mapped;
        if (mapped) {
          const Window client = FindClient(display, children[i], wm_state);
          if (client != 0 && client != children[i]) {
            rect.client = RootRect(display, root, client, nullptr);
            rect.viewable = !IsHidden(display, client, net_wm_state, hidden);
          } else {
            rect.client = rect.frame;
          }
        }
        windows.append(rect);
      }
      if (children != nullptr) XFree(children);
    }
  }

  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return windows;
}

}  // namespace screenshot
