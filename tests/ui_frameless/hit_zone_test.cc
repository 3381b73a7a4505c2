// The hit zones of a frameless window as a pure function of the point and
// the window's geometry.
#include "ui/frameless/hit_zone.h"

#include <gtest/gtest.h>

namespace frameless {
namespace {

// A 400 x 300 window with a title bar across the top inside the shadow band
// and a close button at its right end.
HitTestInput Window() {
  HitTestInput input;
  input.size = QSize(400, 300);
  input.title_bar = QRect(5, 5, 390, 36);
  input.clickable = {QRect(362, 9, 28, 28)};
  return input;
}

TEST(HitTestTest, CornersAndEdgesOfTheBorderResize) {
  const HitTestInput w = Window();
  EXPECT_EQ(HitTest({3, 3}, w), HitZone::kTopLeft);  // 3 from left and top: diagonal
  EXPECT_EQ(HitTest({0, 0}, w), HitZone::kTopLeft);
  EXPECT_EQ(HitTest({5, 5}, w), HitZone::kTopLeft);  // the band includes its inner edge
  EXPECT_EQ(HitTest({2, 297}, w), HitZone::kBottomLeft);
  EXPECT_EQ(HitTest({397, 2}, w), HitZone::kTopRight);
  EXPECT_EQ(HitTest({398, 299}, w), HitZone::kBottomRight);
  EXPECT_EQ(HitTest({400, 300}, w), HitZone::kBottomRight);
  EXPECT_EQ(HitTest({2, 150}, w), HitZone::kLeft);
  EXPECT_EQ(HitTest({200, 1}, w), HitZone::kTop);
  EXPECT_EQ(HitTest({396, 150}, w), HitZone::kRight);
  EXPECT_EQ(HitTest({200, 296}, w), HitZone::kBottom);
  // Just inside the band.
  EXPECT_EQ(HitTest({6, 150}, w), HitZone::kClient);
  EXPECT_EQ(HitTest({394, 150}, w), HitZone::kClient);
  EXPECT_EQ(HitTest({200, 294}, w), HitZone::kClient);
}

TEST(HitTestTest, TitleBarDragsExceptOverItsClickableChildren) {
  const HitTestInput w = Window();
  EXPECT_EQ(HitTest({100, 20}, w), HitZone::kCaption);   // title text
  EXPECT_EQ(HitTest({375, 20}, w), HitZone::kClient);    // close button
  EXPECT_EQ(HitTest({361, 20}, w), HitZone::kCaption);   // just left of it
  EXPECT_EQ(HitTest({100, 41}, w), HitZone::kClient);    // first row below the bar
  EXPECT_EQ(HitTest({200, 150}, w), HitZone::kClient);
  // The border wins over the title bar where they overlap.
  EXPECT_EQ(HitTest({100, 5}, w), HitZone::kTop);
}

TEST(HitTestTest, StateTurnsTheBorderOff) {
  HitTestInput fixed = Window();
  fixed.resizable = false;
  EXPECT_EQ(HitTest({2, 150}, fixed), HitZone::kClient);
  EXPECT_EQ(HitTest({3, 3}, fixed), HitZone::kClient);
  EXPECT_EQ(HitTest({100, 5}, fixed), HitZone::kCaption);

  HitTestInput minimized = Window();
  minimized.minimized = true;
  EXPECT_EQ(HitTest({398, 299}, minimized), HitZone::kClient);

  HitTestInput full = Window();
  full.full_screen = true;
  EXPECT_EQ(HitTest({3, 3}, full), HitZone::kClient);
  EXPECT_EQ(HitTest({100, 20}, full), HitZone::kClient);  // no dragging either
}

TEST(HitTestTest, WindowWithoutTitleBarIsClientInside) {
  HitTestInput w = Window();
  w.title_bar = QRect();
  w.clickable.clear();
  EXPECT_EQ(HitTest({100, 20}, w), HitZone::kClient);
  EXPECT_EQ(HitTest({2, 150}, w), HitZone::kLeft);
}

TEST(HitTestTest, ZonesMapToEdgesAndCursors) {
  EXPECT_EQ(ResizeEdges(HitZone::kTopLeft), Qt::TopEdge | Qt::LeftEdge);
  EXPECT_EQ(ResizeEdges(HitZone::kBottomRight), Qt::BottomEdge | Qt::RightEdge);
  EXPECT_EQ(ResizeEdges(HitZone::kRight), Qt::Edges(Qt::RightEdge));
  EXPECT_EQ(ResizeEdges(HitZone::kCaption), Qt::Edges());
  EXPECT_EQ(ZoneCursor(HitZone::kTopRight), Qt::SizeBDiagCursor);
  EXPECT_EQ(ZoneCursor(HitZone::kBottomRight), Qt::SizeFDiagCursor);
  EXPECT_EQ(ZoneCursor(HitZone::kTop), Qt::SizeVerCursor);
  EXPECT_EQ(ZoneCursor(HitZone::kLeft), Qt::SizeHorCursor);
  EXPECT_EQ(ZoneCursor(HitZone::kCaption), Qt::ArrowCursor);
  EXPECT_FALSE(IsResizeZone(HitZone::kCaption));
  EXPECT_FALSE(IsResizeZone(HitZone::kClient));
  EXPECT_TRUE(IsResizeZone(HitZone::kBottom));
}

}  // namespace
}  // namespace frameless
