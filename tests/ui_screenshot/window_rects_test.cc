// The choice of the window under the pointer, on window lists made up here.
#include <gtest/gtest.h>

#include "ui/screenshot/window_rects_x11.h"

namespace {

using screenshot::WindowClientAt;
using screenshot::WindowRect;

WindowRect Window(unsigned long id, QRect frame, QRect client, bool viewable = true) {
  WindowRect rect;
  rect.id = id;
  rect.frame = frame;
  rect.client = client;
  rect.viewable = viewable;
  return rect;
}

const QSize kScreen(1280, 800);

TEST(WindowClientAtTest, TopmostWindowContainingThePointWins) {
  // Frames carry a 20-pixel title above the client area.
  const QVector<WindowRect> top_first = {
      Window(3, QRect(300, 180, 250, 200), QRect(300, 200, 250, 180)),
      Window(2, QRect(100, 80, 400, 320), QRect(100, 100, 400, 300)),
      Window(1, QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)),  // the desktop
  };
  EXPECT_EQ(WindowClientAt(top_first, QPoint(350, 250), kScreen), QRect(300, 200, 250, 180));
  EXPECT_EQ(WindowClientAt(top_first, QPoint(150, 150), kScreen), QRect(100, 100, 400, 300));
  // On a title bar: the frame counts, the client area is proposed.
  EXPECT_EQ(WindowClientAt(top_first, QPoint(400, 185), kScreen), QRect(300, 200, 250, 180));
  // Frame edges: the right and bottom edges lie outside.
  EXPECT_EQ(WindowClientAt(top_first, QPoint(549, 379), kScreen), QRect(300, 200, 250, 180));
  EXPECT_EQ(WindowClientAt(top_first, QPoint(550, 379), kScreen), QRect());
  // Only the desktop there: nothing, however the desktop is listed.
  EXPECT_EQ(WindowClientAt(top_first, QPoint(900, 600), kScreen), QRect());
}

TEST(WindowClientAtTest, PassesOverWhatCannotBeProposed) {
  const QRect lower(100, 100, 400, 300);
  const QVector<WindowRect> top_first = {
      Window(9, QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)),              // full screen
      Window(8, QRect(150, 150, 100, 100), QRect(150, 150, 100, 100), false),  // minimised
      Window(7, QRect(160, 160, 50, 50), QRect()),                             // client unreadable
      Window(6, QRect(170, 170, 30, 30), QRect(170, 170, 30, 30)),             // ours
      Window(5, lower, lower),
  };
  EXPECT_EQ(WindowClientAt(top_first, QPoint(180, 180), kScreen, {6}), lower);
  EXPECT_EQ(WindowClientAt(top_first, QPoint(180, 180), kScreen), QRect(170, 170, 30, 30));
  // As wide as the screen but lower is still smaller: it qualifies.
  const QVector<WindowRect> panel = {Window(4, QRect(0, 770, 1280, 30), QRect(0, 770, 1280, 30))};
  EXPECT_EQ(WindowClientAt(panel, QPoint(10, 780), kScreen), QRect(0, 770, 1280, 30));
  EXPECT_EQ(WindowClientAt({}, QPoint(10, 10), kScreen), QRect());
}

}  // namespace
