// Frameless windows on the offscreen platform: the shadow band follows the
// window state, title-bar and border presses are taken from the children,
// title-bar buttons still click, a double-click on the title maximises.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "resources/resources.h"
#include "ui_frameless/demo_windows.h"

namespace {

using frameless_test::DemoDialog;
using frameless_test::DemoWindow;

class FramelessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qnres::InitResources(); }
};

void SendMouse(QWidget* target, QEvent::Type type, const QPoint& local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
  QMouseEvent event(type, local, target->mapToGlobal(local), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

TEST_F(FramelessTest, ShadowBandFollowsMaximiseAndRestore) {
  DemoWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(window.testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(window.Helper()->HasShadow());
  EXPECT_EQ(window.contentsMargins(), QMargins(5, 5, 5, 5));
  EXPECT_EQ(window.centralWidget()->geometry(), window.rect().adjusted(5, 5, -5, -5));

  window.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }));
  EXPECT_FALSE(window.Helper()->HasShadow());
  EXPECT_EQ(window.contentsMargins(), QMargins());
  // No border to resize on a maximised window.
  EXPECT_EQ(window.Helper()->ZoneAt({2, 100}), frameless::HitZone::kClient);

  window.showNormal();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMaximized(); }));
  EXPECT_TRUE(window.Helper()->HasShadow());
  EXPECT_EQ(window.contentsMargins(), QMargins(5, 5, 5, 5));
  EXPECT_EQ(window.Helper()->ZoneAt({2, 100}), frameless::HitZone::kLeft);
}

TEST_F(FramelessTest, PaintsTranslucentBandAroundOpaqueWhiteInside) {
  DemoDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const QImage normal = dialog.grab().toImage();
  const int w = normal.width();
  const int h = normal.height();
  // Outer corner and outer edge of the band: nearly transparent black.
  EXPECT_LT(qAlpha(normal.pixel(0, 0)), 40);
  EXPECT_LT(qAlpha(normal.pixel(w / 2, h - 1)), 40);
  // Inner edge of the band is darker than its outer edge.
  EXPECT_GT(qAlpha(normal.pixel(4, h / 2)), qAlpha(normal.pixel(0, h / 2)));
  // The content area below the title bar is opaque white.
  const QRgb inside = normal.pixel(w / 2, h - 12);
  EXPECT_EQ(qAlpha(inside), 255);
  EXPECT_EQ(QColor(inside), QColor(Qt::white));
  // The accent title bar sits inside the band.
  EXPECT_EQ(QColor(normal.pixel(w / 3, 12)), QColor("#678BF1"));
}

TEST_F(FramelessTest, MaximisedWindowPaintsNoBand) {
  DemoWindow window;
  window.showMaximized();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }));
  const QImage image = window.grab().toImage();
  // Title bar reaches the very edge.
  EXPECT_EQ(QColor(image.pixel(image.width() / 3, 1)), QColor("#678BF1"));
  EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() - 1)), 255);
}

TEST_F(FramelessTest, TitleBarButtonClicksAndTitleTextDoesNotReachChildren) {
  DemoWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QPushButton* close_btn = window.buttons_[2];
  QSignalSpy clicked(close_btn, &QPushButton::clicked);
  QTest::mouseClick(close_btn, Qt::LeftButton);
  EXPECT_EQ(clicked.count(), 1);

  // A button inside the title bar that is not listed as clickable is part of
  // the caption: the press drags instead of clicking it.
  DemoWindow other;
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  auto* unlisted = new QPushButton("x", other.title_bar_);
  unlisted->setGeometry(200, 10, 30, 20);
  unlisted->show();
  QSignalSpy unlisted_clicked(unlisted, &QPushButton::clicked);
  QTest::mouseClick(unlisted, Qt::LeftButton);
  EXPECT_EQ(unlisted_clicked.count(), 0);
}

TEST_F(FramelessTest, BorderPressDoesNotReachTheContent) {
  // A child that covers the band (some windows lay out without the margins)
  // must not see presses on the border.
  DemoWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* cover = new QPushButton(&window);
  cover->setGeometry(window.rect());
  cover->show();
  QSignalSpy clicked(cover, &QPushButton::clicked);
  QTest::mouseClick(cover, Qt::LeftButton, Qt::NoModifier, QPoint(2, window.height() / 2));
  EXPECT_EQ(clicked.count(), 0);
  QTest::mouseClick(cover, Qt::LeftButton, Qt::NoModifier, QPoint(60, window.height() - 40));
  EXPECT_EQ(clicked.count(), 1);
}

TEST_F(FramelessTest, DraggingTheTitleMovesTheWindowWhereNoWindowManagerDoes) {
  // The offscreen platform has no system move, so the helper follows the
  // pointer itself.
  DemoWindow window;
  window.move(100, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QPoint start = window.pos();
  QLabel* title = window.title_lb_;
  const QPoint at = title->rect().center();
  SendMouse(title, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
  SendMouse(title, QEvent::MouseMove, at + QPoint(2, 1), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(window.pos(), start);  // below the drag distance: nothing yet
  SendMouse(title, QEvent::MouseMove, at + QPoint(40, 25), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(window.pos(), start + QPoint(40, 25));
  SendMouse(title, QEvent::MouseButtonRelease, at + QPoint(40, 25), Qt::LeftButton, Qt::NoButton);
  // After the release, moves do not drag any more.
  SendMouse(title, QEvent::MouseMove, at + QPoint(80, 80), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(window.pos(), start + QPoint(40, 25));
}

TEST_F(FramelessTest, DoubleClickOnTitleTogglesMaximiseOfWindowsThatHaveIt) {
  DemoWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::mouseDClick(window.title_lb_, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMaximized(); }));
  EXPECT_FALSE(window.Helper()->HasShadow());
  QTest::mouseDClick(window.title_lb_, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMaximized(); }));
  EXPECT_TRUE(window.Helper()->HasShadow());

  // Double-clicking a title-bar button is two clicks, not a maximise.
  QTest::mouseDClick(window.buttons_[0], Qt::LeftButton);
  QTest::qWait(20);
  EXPECT_FALSE(window.isMaximized());

  // A dialog has no maximise button, and a fixed-size one no resize border.
  DemoDialog dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_FALSE(dialog.Helper()->CanMaximize());
  QTest::mouseDClick(dialog.title_lb_, Qt::LeftButton);
  QTest::qWait(20);
  EXPECT_FALSE(dialog.isMaximized());
  EXPECT_EQ(dialog.Helper()->ZoneAt({2, 2}), frameless::HitZone::kClient);
  EXPECT_EQ(dialog.Helper()->ZoneAt(dialog.title_lb_->geometry().center() + QPoint(5, 5)),
            frameless::HitZone::kCaption);
}

TEST_F(FramelessTest, HoverOverTheBorderShowsResizeArrows) {
  DemoWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  SendMouse(&window, QEvent::MouseMove, {window.width() - 2, window.height() - 2}, Qt::NoButton,
            Qt::NoButton);
  EXPECT_EQ(window.cursor().shape(), Qt::SizeFDiagCursor);
  SendMouse(&window, QEvent::MouseMove, {window.width() / 2, 2}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(window.cursor().shape(), Qt::SizeVerCursor);
  // Over the content the arrow comes back.
  SendMouse(window.body_->viewport(), QEvent::MouseMove, {20, 20}, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
