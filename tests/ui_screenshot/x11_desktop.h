// A private desktop for the screenshot tests: Xvfb with openbox on it, a
// plain root colour, and solid-colour top-level windows of known size that
// openbox manages (title bars and all), as a user's desktop would have.
#pragma once

#include <QColor>
#include <QRect>
#include <memory>
#include <string>

namespace screenshot_test {

class X11Desktop {
 public:
  static constexpr unsigned kRootColor = 0x303840;

  // Starts Xvfb (width x height), sets DISPLAY and starts openbox; returns
  // once openbox manages the screen. ok() is false when either failed.
  X11Desktop(int width, int height);
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  bool ok() const { return ok_; }
  const std::string& display() const;

  // Maps a window filled with `color`, asking for its client area at
  // `requested` (the manager may shift it to fit its frame), and returns
  // once the manager has mapped it. 0 on failure.
  unsigned long CreateWindow(const QRect& requested, const QColor& color);
  // Where the window's client area really is (root coordinates).
  QRect ClientRect(unsigned long window);
  // Minimises the window and returns once it is unmapped.
  bool Iconify(unsigned long window);
  void DestroyWindow(unsigned long window);

  // Real input through XTEST (xdotool), as a user types.
  bool PressKey(const char* keysym);

 private:
  struct State;
  std::unique_ptr<State> state_;
  bool ok_ = false;
};

}  // namespace screenshot_test
