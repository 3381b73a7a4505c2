// The screenshot tool at a device pixel ratio of 2: proposed windows, the
// selection and the copied pictures keep to the screen's real pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <memory>

#include "resources/resources.h"
#include "ui/screenshot/image_drawer.h"
#include "ui/screenshot/screen_shot_widget.h"
#include "ui/screenshot/tools.h"
#include "ui_screenshot/x11_desktop.h"

namespace {

const QColor kTeal(0, 150, 140);
std::unique_ptr<screenshot_test::X11Desktop> g_desktop;
QRect g_client;  // device pixels

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  g_desktop = std::make_unique<screenshot_test::X11Desktop>(1280, 800);
  if (g_desktop->ok()) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    setenv("QT_SCALE_FACTOR", "2", 1);
    const unsigned long window = g_desktop->CreateWindow(QRect(200, 160, 400, 300), kTeal);
    if (window != 0) g_client = g_desktop->ClientRect(window);
  }
  return new QApplication(argc, argv);
}

namespace {

void Mouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::NoButton,
           Qt::MouseButtons buttons = Qt::NoButton) {
  QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}
bool Near(const QColor& a, const QColor& b) {
  return qAbs(a.red() - b.red()) <= 6 && qAbs(a.green() - b.green()) <= 6 && qAbs(a.blue() - b.blue()) <= 6;
}

TEST(ScreenShotHiDpiTest, WindowsAndCopiesInDevicePixels) {
  if (g_client.isNull()) GTEST_SKIP() << "no Xvfb with openbox";
  qnres::InitResources();
  QPointer<ScreenShotWidget> shot = new ScreenShotWidget;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(shot.data()));
  ASSERT_DOUBLE_EQ(shot->devicePixelRatioF(), 2.0);
  EXPECT_EQ(shot->ScreenImage().size(), QSize(1280, 800));
  EXPECT_EQ(shot->geometry(), QRect(0, 0, 640, 400));

  // The window's client area in the overlay's own (halved) coordinates; an
  // odd edge rounds outwards so none of the window is cut off.
  const QRect expected = QRectF(QPointF(g_client.topLeft()) / 2, QSizeF(g_client.size()) / 2).toAlignedRect();
  Mouse(shot, QEvent::MouseMove, expected.center());
  EXPECT_EQ(shot->HoverRect(), expected);
  Mouse(shot, QEvent::MouseButtonPress, expected.center(), Qt::LeftButton, Qt::LeftButton);
  Mouse(shot, QEvent::MouseButtonRelease, expected.center(), Qt::LeftButton, Qt::NoButton);
  ASSERT_EQ(shot->Selection(), expected);

  // The plain copy is the window's full-resolution pixels.
  const QImage plain = shot->ResultImage();
  const QRect device(expected.topLeft() * 2, expected.size() * 2);
  EXPECT_EQ(plain.size(), device.size());
  EXPECT_TRUE(device.contains(g_client));
  const QPoint window_origin = g_client.topLeft() - device.topLeft();
  EXPECT_TRUE(Near(plain.pixel(window_origin), kTeal));
  EXPECT_TRUE(Near(plain.pixel(window_origin + QPoint(g_client.width() - 1, g_client.height() - 1)), kTeal));

  // With a black rectangle drawn: the copy keeps the full resolution, the
  // line lands where it was drawn.
  QTest::mouseClick(shot->ToolBar()->rectBtn, Qt::LeftButton);
  ASSERT_NE(shot->Drawer(), nullptr);
  EXPECT_EQ(shot->Drawer()->geometry(), expected);
  QTest::mouseClick(shot->DrawToolBar()->ColorButtons().at(9), Qt::LeftButton);
  QWidget* canvas = shot->Drawer()->View()->viewport();
  Mouse(canvas, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
  Mouse(canvas, QEvent::MouseMove, QPoint(40, 30), Qt::NoButton, Qt::LeftButton);
  Mouse(canvas, QEvent::MouseMove, QPoint(60, 50), Qt::NoButton, Qt::LeftButton);
  Mouse(canvas, QEvent::MouseButtonRelease, QPoint(60, 50), Qt::LeftButton, Qt::NoButton);
  QTest::mouseClick(shot->ToolBar()->finishBtn, Qt::LeftButton);
  const QImage copied = QApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), device.size());
  EXPECT_TRUE(Near(copied.pixel(20, 40), Qt::black));   // left side at x = 10 (20 device)
  EXPECT_TRUE(Near(copied.pixel(70, 40), kTeal));       // inside
  EXPECT_TRUE(Near(copied.pixel(300, 250), kTeal));
  EXPECT_TRUE(QTest::qWaitFor([&] { return shot.isNull(); }, 3000));
}

}  // namespace
