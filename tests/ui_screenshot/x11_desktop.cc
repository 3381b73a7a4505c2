#include "ui_screenshot/x11_desktop.h"

// Xlib after Qt: its macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdlib.h>

#include <vector>

#include "support/netns.h"
#include "support/x11_session.h"

namespace screenshot_test {
namespace {

// Waits (bounded) for an event of `type` on `window`.
bool AwaitEvent(Display* display, Window window, int type) {
  for (int i = 0; i < 500; ++i) {
    XEvent event;
    if (XCheckTypedWindowEvent(display, window, type, &event)) return true;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    XFlush(display);
    poll(&fd, 1, 20);
  }
  return false;
}

}  // namespace

struct X11Desktop::State {
  std::unique_ptr<qnchat_test::X11Session> session;
  Display* display = nullptr;
};

X11Desktop::X11Desktop(int width, int height) : state_(std::make_unique<State>()) {
  state_->session = std::make_unique<qnchat_test::X11Session>(width, height);
  if (!state_->session->ok()) return;
  setenv("DISPLAY", state_->session->display().c_str(), 1);
  state_->display = XOpenDisplay(state_->session->display().c_str());
  if (state_->display == nullptr) return;
  Display* d = state_->display;
  XSetWindowBackground(d, DefaultRootWindow(d), kRootColor);
  XClearWindow(d, DefaultRootWindow(d));
  XSync(d, False);
  ok_ = true;
}

X11Desktop::~X11Desktop() {
  if (state_->display != nullptr) XCloseDisplay(state_->display);
}

const std::string& X11Desktop::display() const { return state_->session->display(); }

unsigned long X11Desktop::CreateWindow(const QRect& requested, const QColor& color) {
  Display* d = state_->display;
  const unsigned long pixel = (static_cast<unsigned long>(color.red()) << 16) |
                              (static_cast<unsigned long>(color.green()) << 8) | color.blue();
  const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), requested.x(), requested.y(),
                                            requested.width(), requested.height(), 0, 0, pixel);
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = requested.x();
  hints.y = requested.y();
  hints.width = requested.width();
  hints.height = requested.height();
  XSetWMNormalHints(d, window, &hints);
  XStoreName(d, window, "solid");
  XSelectInput(d, window, StructureNotifyMask | ExposureMask);
  XMapWindow(d, window);
  if (!AwaitEvent(d, window, MapNotify) || !AwaitEvent(d, window, Expose)) return 0;
  // The manager lists the window once it manages it; wait for that too.
  const Atom stacking = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);
  for (int i = 0; i < 250; ++i) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, rest = 0;
    unsigned char* data = nullptr;
    bool listed = false;
    if (XGetWindowProperty(d, DefaultRootWindow(d), stacking, 0, 1024, False, XA_WINDOW, &type, &format, &count,
                           &rest, &data) == Success &&
        data != nullptr) {
      const unsigned long* windows = reinterpret_cast<const unsigned long*>(data);
      for (unsigned long k = 0; k < count; ++k) listed = listed || windows[k] == window;
    }
    if (data != nullptr) XFree(data);
    if (listed) {
      XSync(d, False);
      return window;
    }
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    poll(&fd, 1, 20);
  }
  return 0;
}

QRect X11Desktop::ClientRect(unsigned long window) {
  Display* d = state_->display;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d, window, &attributes) == 0) return QRect();
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  return QRect(x, y, attributes.width, attributes.height);
}

bool X11Desktop::Iconify(unsigned long window) {
  Display* d = state_->display;
  XIconifyWindow(d, window, DefaultScreen(d));
  return AwaitEvent(d, window, UnmapNotify);
}

void X11Desktop::DestroyWindow(unsigned long window) {
  XDestroyWindow(state_->display, window);
  XSync(state_->display, False);
}

bool X11Desktop::PressKey(const char* keysym) {
  std::string ignored;
  return qnchat_test::RunCommand({"xdotool", "key", keysym}, &ignored) == 0;
}

}  // namespace screenshot_test
