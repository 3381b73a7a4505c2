// Where a point of a frameless window falls: the resize border, the title bar
// (drag to move, double-click to maximise) or the client area. A pure function
// of the point and the window's geometry, so it is tested without a screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

namespace frameless {

// The values are those of the hit-test answers the zones stand for.
enum class HitZone {
  kClient = 1,
  kCaption = 2,
  kLeft = 10,
  kRight = 11,
  kTop = 12,
  kTopLeft = 13,
  kTopRight = 14,
  kBottom = 15,
  kBottomLeft = 16,
  kBottomRight = 17,
};

// Width of the resize border, the same band the shadow is painted in.
constexpr int kBorderWidth = 5;

struct HitTestInput {
  QSize size;               // window size
  bool resizable = true;    // the window's resizable flag
  bool minimized = false;
  bool full_screen = false;
  QRect title_bar;          // window coordinates; empty: no title bar
  QVector<QRect> clickable; // title-bar children that take their own clicks
};

// Zone of `pos` (window coordinates). A full-screen window is client
// everywhere; the border only counts when resizable and not minimised.
HitZone HitTest(const QPoint& pos, const HitTestInput& input);

// True for the eight border zones.
bool IsResizeZone(HitZone zone);

// The edges a border zone resizes (for QWindow::startSystemResize); empty for
// the other zones.
Qt::Edges ResizeEdges(HitZone zone);

// The cursor shown over a zone: the resize arrows over the border, the
// ordinary arrow elsewhere.
Qt::CursorShape ZoneCursor(HitZone zone);

}  // namespace frameless
