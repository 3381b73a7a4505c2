// Frameless windows under a real window manager (Xvfb + openbox): a press on
// the title bar hands the drag to the window manager, a press on the border
// resizes, a double-click on the title maximises and restores and the shadow
// band follows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "resources/resources.h"
#include "ui_frameless/demo_windows.h"
#include "ui_frameless/x11_session.h"

namespace {

frameless_test::X11Session* g_session = nullptr;

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  static std::unique_ptr<frameless_test::X11Session> session =
      std::make_unique<frameless_test::X11Session>(1280, 800);
  if (session->ok()) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    g_session = session.get();
  }
  return new QApplication(argc, argv);
}

namespace {

using frameless_test::DemoWindow;

class FramelessX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_session == nullptr) GTEST_SKIP() << "no Xvfb with openbox";
    qnres::InitResources();
    g_session->ClaimCompositing(true);
    window_ = std::make_unique<DemoWindow>();
    window_->move(200, 150);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void TearDown() override {
    if (g_session != nullptr && g_session->PointerGrabbed()) g_session->Release();
    window_.reset();
  }

  QPoint TitleText() const {
    return window_->title_lb_->mapToGlobal(window_->title_lb_->rect().center());
  }
  // Lets the program see the input before the next step.
  static bool Settle(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

  std::unique_ptr<DemoWindow> window_;
};

TEST_F(FramelessX11Test, TitleDragIsHandedToTheWindowManager) {
  const QPoint start_pos = window_->frameGeometry().topLeft();
  const QPoint grab = TitleText();
  ASSERT_TRUE(g_session->MoveTo(grab.x(), grab.y()));
  g_session->Watch(window_->winId());
  ASSERT_TRUE(g_session->Press());
  // A press alone is still a click: the program keeps the pointer.
  QTest::qWait(50);
  EXPECT_FALSE(g_session->WindowManagerTookPointer());
  ASSERT_TRUE(g_session->MoveTo(grab.x() + 12, grab.y() + 6));
  ASSERT_TRUE(Settle([] { return g_session->WindowManagerTookPointer(); })) << "no system move started";
  ASSERT_TRUE(g_session->MoveTo(grab.x() + 152, grab.y() + 86));
  ASSERT_TRUE(g_session->Release());
  ASSERT_TRUE(Settle([&] { return window_->frameGeometry().topLeft() != start_pos; }));
  ASSERT_TRUE(Settle([&] { return window_->frameGeometry().topLeft() == start_pos + QPoint(140, 80); }))
      << "window at " << window_->frameGeometry().x() << "," << window_->frameGeometry().y();
  EXPECT_FALSE(g_session->PointerGrabbed());
}

TEST_F(FramelessX11Test, BorderCornerResizesThroughTheWindowManager) {
  const QSize start_size = window_->size();
  const QPoint corner = window_->mapToGlobal(QPoint(window_->width() - 2, window_->height() - 2));
  ASSERT_TRUE(g_session->MoveTo(corner.x(), corner.y()));
  ASSERT_TRUE(Settle([&] { return window_->cursor().shape() == Qt::SizeFDiagCursor; }));
  g_session->Watch(window_->winId());
  ASSERT_TRUE(g_session->Press());
  ASSERT_TRUE(Settle([] { return g_session->WindowManagerTookPointer(); })) << "no system resize started";
  ASSERT_TRUE(g_session->MoveTo(corner.x() + 60, corner.y() + 40));
  ASSERT_TRUE(g_session->Release());
  ASSERT_TRUE(Settle([&] { return window_->size() == start_size + QSize(60, 40); }))
      << "size " << window_->width() << "x" << window_->height();
}

TEST_F(FramelessX11Test, TitleDoubleClickMaximisesAndRestoresWithTheShadow) {
  const QRect normal = window_->geometry();
  const QPoint title = TitleText();
  ASSERT_TRUE(g_session->MoveTo(title.x(), title.y()));
  ASSERT_TRUE(g_session->DoubleClick());
  ASSERT_TRUE(Settle([&] { return window_->isMaximized(); }));
  EXPECT_FALSE(window_->Helper()->HasShadow());
  EXPECT_EQ(window_->contentsMargins(), QMargins());
  ASSERT_TRUE(Settle([&] { return window_->width() == window_->screen()->availableGeometry().width(); }));

  const QPoint again = TitleText();
  ASSERT_TRUE(g_session->MoveTo(again.x(), again.y()));
  ASSERT_TRUE(g_session->DoubleClick());
  ASSERT_TRUE(Settle([&] { return !window_->isMaximized(); }));
  EXPECT_TRUE(window_->Helper()->HasShadow());
  EXPECT_EQ(window_->contentsMargins(), QMargins(5, 5, 5, 5));
  ASSERT_TRUE(Settle([&] { return window_->geometry().size() == normal.size(); }));
}

TEST_F(FramelessX11Test, NoShadowBandWithoutCompositingManager) {
  // Translucent pixels would show black here, so the band is left out, and
  // restoring from maximised does not bring it back.
  EXPECT_TRUE(window_->Helper()->HasShadow());
  g_session->ClaimCompositing(false);
  DemoWindow plain;
  plain.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&plain));
  EXPECT_FALSE(plain.Helper()->HasShadow());
  EXPECT_EQ(plain.contentsMargins(), QMargins());
  EXPECT_EQ(plain.centralWidget()->geometry(), plain.rect());
  plain.showMaximized();
  ASSERT_TRUE(Settle([&] { return plain.isMaximized(); }));
  plain.showNormal();
  ASSERT_TRUE(Settle([&] { return !plain.isMaximized(); }));
  EXPECT_FALSE(plain.Helper()->HasShadow());
  EXPECT_EQ(plain.contentsMargins(), QMargins());

  // A compositor that starts later is seen on the next show.
  g_session->ClaimCompositing(true);
  plain.hide();
  plain.show();
  EXPECT_TRUE(plain.Helper()->HasShadow());
  EXPECT_EQ(plain.contentsMargins(), QMargins(5, 5, 5, 5));
}

TEST_F(FramelessX11Test, ClickOnTitleBarButtonIsAClickNotAMove) {
  QPushButton* close_btn = window_->buttons_[2];
  int clicks = 0;
  QObject::connect(close_btn, &QPushButton::clicked, [&clicks] { ++clicks; });
  const QPoint at = close_btn->mapToGlobal(close_btn->rect().center());
  ASSERT_TRUE(g_session->MoveTo(at.x(), at.y()));
  ASSERT_TRUE(g_session->Press());
  ASSERT_TRUE(g_session->MoveTo(at.x() + 1, at.y() + 1));
  ASSERT_TRUE(g_session->Release());
  ASSERT_TRUE(Settle([&] { return clicks == 1; }));
  EXPECT_FALSE(g_session->PointerGrabbed());
  EXPECT_EQ(window_->frameGeometry().topLeft(), QPoint(200, 150));
}

}  // namespace
