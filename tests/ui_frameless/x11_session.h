// A private X session for the frameless tests that need a real window
// manager: Xvfb with openbox, plus the pointer as a user moves it.
#pragma once

#include <memory>
#include <string>

namespace frameless_test {

class X11Session {
 public:
  // Starts Xvfb (width x height) and openbox on it and returns once openbox
  // has finished starting. ok() is false when either could not start.
  X11Session(int width, int height);
  ~X11Session();

  bool ok() const { return ok_; }
  const std::string& display() const;

  // Whether some client holds the pointer grab now (the program itself while
  // a button is down, the window manager during a move or resize). Asked
  // through a separate connection.
  bool PointerGrabbed();

  // Watches a top-level window for the moment another client takes the
  // pointer from it; WindowManagerTookPointer() latches once the window got
  // the leave event of such a grab since Watch was called.
  void Watch(unsigned long window);
  bool WindowManagerTookPointer();

  // Owns (or gives up) the compositing manager selection of screen 0, as a
  // compositor would. There is no compositor among the test's packages; the
  // program only asks whether one runs, so holding the selection stands in.
  void ClaimCompositing(bool claim);

  // Synthetic pointer input through XTEST (xdotool).
  bool MoveTo(int x, int y);
  bool Press();
  bool Release();
  bool DoubleClick();

 private:
  struct State;
  std::unique_ptr<State> state_;
  bool ok_ = false;
};

}  // namespace frameless_test
