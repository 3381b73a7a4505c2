#include "ui_frameless/x11_session.h"

#include <X11/Xlib.h>
#include <stdlib.h>

#include <vector>

#include "support/netns.h"
#include "support/x11_session.h"

namespace frameless_test {
namespace {

// A helper program's exit status; its output is dropped.
bool Run(const std::vector<std::string>& args) {
  std::string ignored;
  return qnchat_test::RunCommand(args, &ignored) == 0;
}

}  // namespace

struct X11Session::State {
  std::unique_ptr<qnchat_test::X11Session> session;
  Display* probe = nullptr;
  bool grab_leave = false;
  unsigned long cm_owner = 0;  // window holding the compositing selection
};

X11Session::X11Session(int width, int height) : state_(std::make_unique<State>()) {
  state_->session = std::make_unique<qnchat_test::X11Session>(width, height);
  if (!state_->session->ok()) return;
  setenv("DISPLAY", state_->session->display().c_str(), 1);
  state_->probe = XOpenDisplay(state_->session->display().c_str());
  ok_ = state_->probe != nullptr;
}

X11Session::~X11Session() {
  if (state_->probe != nullptr) XCloseDisplay(state_->probe);
}

const std::string& X11Session::display() const { return state_->session->display(); }

bool X11Session::PointerGrabbed() {
  Display* d = state_->probe;
  const int result = XGrabPointer(d, DefaultRootWindow(d), False, 0, GrabModeAsync, GrabModeAsync,
                                  0L, 0L, CurrentTime);
  if (result == GrabSuccess) XUngrabPointer(d, CurrentTime);
  XSync(d, False);
  return result == AlreadyGrabbed;
}

void X11Session::Watch(unsigned long window) {
  XSelectInput(state_->probe, window, LeaveWindowMask);
  XSync(state_->probe, False);
  while (XPending(state_->probe) > 0) {
    XEvent event;
    XNextEvent(state_->probe, &event);
  }
  state_->grab_leave = false;
}

bool X11Session::WindowManagerTookPointer() {
  XSync(state_->probe, False);
  while (XPending(state_->probe) > 0) {
    XEvent event;
    XNextEvent(state_->probe, &event);
    if (event.type == LeaveNotify && event.xcrossing.mode == NotifyGrab) state_->grab_leave = true;
  }
  return state_->grab_leave;
}

void X11Session::ClaimCompositing(bool claim) {
  Display* d = state_->probe;
  if (claim && state_->cm_owner == 0) {
    state_->cm_owner = XCreateSimpleWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, 0, 0);
  }
  const Atom selection = XInternAtom(d, "_NET_WM_CM_S0", False);
  XSetSelectionOwner(d, selection, claim ? state_->cm_owner : 0L, CurrentTime);
  XSync(d, False);
}

bool X11Session::MoveTo(int x, int y) {
  return Run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)});
}
bool X11Session::Press() { return Run({"xdotool", "mousedown", "1"}); }
bool X11Session::Release() { return Run({"xdotool", "mouseup", "1"}); }
bool X11Session::DoubleClick() { return Run({"xdotool", "click", "--repeat", "2", "--delay", "60", "1"}); }

}  // namespace frameless_test
