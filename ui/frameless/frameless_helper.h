// Makes one top-level widget frameless: removes the system frame, keeps a
// 5-pixel band around the content for the shadow and the resize border, paints
// the shadow, and turns presses on the border and the title bar into window
// manager moves and resizes (X11 has no hit-test message, so the zones of
// HitTest are mapped onto QWindow::startSystemMove / startSystemResize).
//
// Owned by its window (a child QObject); GUI thread only.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <functional>

#include "ui/frameless/hit_zone.h"

class QMouseEvent;
class QWidget;

namespace frameless {

class FramelessHelper : public QObject {
  Q_OBJECT

 public:
  // How the helper asks its window for the parts that vary: the title-bar
  // rectangle (window coordinates), the title-bar children that keep their
  // own clicks, and whether the border resizes. Called on every press.
  struct Hooks {
    std::function<QRect()> title_bar_rect;
    std::function<QList<QWidget*>()> title_bar_children;
    std::function<bool()> resizable;
  };

  FramelessHelper(QWidget* window, Hooks hooks);
  ~FramelessHelper() override;

  // Shadow band on (content margins 5) or off (0). Maximising and going full
  // screen turn it off, restoring turns it on again. Where nothing blends
  // translucent pixels (X11 without a compositing manager, checked whenever
  // the window is shown) the band stays off, as it would show black.
  void SetShadow(bool on);
  // Whether the band is there now.
  bool HasShadow() const { return shadow_ && composited_; }

  // Zone of a point in window coordinates, with the window's present state.
  HitZone ZoneAt(const QPoint& pos) const;

  // Whether the window asked for maximise/minimise buttons before it lost
  // its frame; a title-bar double-click maximises only the former.
  bool CanMaximize() const { return had_maximize_hint_; }
  bool CanMinimize() const { return had_minimize_hint_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class PointerFilter;

  void ApplyMargins();
  void PaintShadow();
  // Mouse events of the window and its children; true when consumed.
  bool HandleMouse(QWidget* target, QMouseEvent* event);
  void SetZoneCursor(HitZone zone);
  void ToggleMaximized();

  QWidget* const window_;
  const Hooks hooks_;
  bool shadow_ = true;       // wanted by the window's state and SetShadow
  bool composited_ = true;   // translucency is blended on screen
  bool had_maximize_hint_ = false;
  bool had_minimize_hint_ = false;
  bool cursor_set_ = false;

  // Left press on the title bar, waiting to become a move (or a click).
  bool caption_pressed_ = false;
  bool moving_by_hand_ = false;  // the window manager refused a system move
  QPoint press_global_;
  QPoint press_window_pos_;

  // Shadow pieces: left, top, right, bottom, then the corners left-top,
  // left-bottom, right-top, right-bottom. A missing image stays null.
  QPixmap shadow_images_[8];
};

}  // namespace frameless
