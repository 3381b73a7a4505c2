#include "ui/frameless/hit_zone.h"

namespace frameless {

HitZone HitTest(const QPoint& pos, const HitTestInput& input) {
  if (input.full_screen) return HitZone::kClient;
  const int x = pos.x();
  const int y = pos.y();
  if (input.resizable && !input.minimized) {
    const int w = input.size.width();
    const int h = input.size.height();
    const bool left = x <= kBorderWidth;
    const bool top = y <= kBorderWidth;
    const bool right = x >= w - kBorderWidth && x <= w;
    const bool bottom = y >= h - kBorderWidth && y <= h;
    if (left && top) return HitZone::kTopLeft;
    if (left && bottom) return HitZone::kBottomLeft;
    if (right && top) return HitZone::kTopRight;
    if (right && bottom) return HitZone::kBottomRight;
    if (left) return HitZone::kLeft;
    if (top) return HitZone::kTop;
    if (right) return HitZone::kRight;
    if (bottom) return HitZone::kBottom;
  }
  if (!input.title_bar.contains(pos)) return HitZone::kClient;
  for (const QRect& child : input.clickable) {
    if (child.contains(pos)) return HitZone::kClient;
  }
  return HitZone::kCaption;
}

bool IsResizeZone(HitZone zone) {
  return zone != HitZone::kClient && zone != HitZone::kCaption;
}

Qt::Edges ResizeEdges(HitZone zone) {
  switch (zone) {
    case HitZone::kLeft: return Qt::LeftEdge;
    case HitZone::kRight: return Qt::RightEdge;
    case HitZone::kTop: return Qt::TopEdge;
    case HitZone::kBottom: return Qt::BottomEdge;
    case HitZone::kTopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case HitZone::kTopRight: return Qt::TopEdge | Qt::RightEdge;
    case HitZone::kBottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case HitZone::kBottomRight: return Qt::BottomEdge | Qt::RightEdge;
    case HitZone::kClient:
    case HitZone::kCaption: break;
  }
  return {};
}

Qt::CursorShape ZoneCursor(HitZone zone) {
  switch (zone) {
    case HitZone::kLeft:
    case HitZone::kRight: return Qt::SizeHorCursor;
    case HitZone::kTop:
    case HitZone::kBottom: return Qt::SizeVerCursor;
    case HitZone::kTopLeft:
    case HitZone::kBottomRight: return Qt::SizeFDiagCursor;
    case HitZone::kTopRight:
    case HitZone::kBottomLeft: return Qt::SizeBDiagCursor;
    case HitZone::kClient:
    case HitZone::kCaption: break;
  }
  return Qt::ArrowCursor;
}

}  // namespace frameless
