// The top-level windows of the X desktop as the screenshot overlay proposes
// them: which window lies under a point, and where its client area is.
// GUI thread; the listing opens its own X connection and closes it again.
#pragma once

#include <QRect>
#include <QVector>

namespace screenshot {

// One top-level window in X root coordinates (device pixels).
struct WindowRect {
  unsigned long id = 0;  // the client window (or the root's child without a manager)
  QRect frame;           // outer rectangle, decorations included
  QRect client;          // client area; null when it could not be read
  bool viewable = false; // mapped and not hidden (minimised, other desktop)
};

// Walks `top_first` (topmost window first) for the window under `pos`:
// windows whose frame misses `pos`, windows at least as large as
// `overlay_size` in both directions (the desktop, full-screen windows), the
// ids in `skip` and windows that are not viewable are passed over, and so is
// a window whose client area is unknown. Returns the client area of the first
// window left, or a null rectangle. All in device pixels; pure.
QRect WindowClientAt(const QVector<WindowRect>& top_first, const QPoint& pos,
                     const QSize& overlay_size, const QVector<unsigned long>& skip = {});

// The top-level windows of the default display ($DISPLAY), topmost first:
// from the manager's _NET_CLIENT_LIST_STACKING when it keeps one, otherwise
// the root's children. Empty when there is no X display (another platform,
// no server).
QVector<WindowRect> ListTopLevelWindows();

}  // namespace screenshot
