// The screenshot tool on a real desktop: Xvfb with openbox and solid-colour
// windows of known size. Pointer and keys go to the overlay as Qt events;
// the pictures it produces are read back and compared by colour.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QFileDialog>
#include <QGraphicsView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <memory>

#include "resources/resources.h"
#include "ui/screenshot/graphics_items.h"
#include "ui/screenshot/image_drawer.h"
#include "ui/screenshot/magnifier.h"
#include "ui/screenshot/screen_shot_widget.h"
#include "ui/screenshot/tools.h"
#include "support/xvfb.h"
#include "ui/screenshot/window_rects_x11.h"
#include "ui_screenshot/x11_desktop.h"

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>

namespace {

const QColor kRed(220, 30, 30);
const QColor kGreen(0, 200, 0);
const QColor kBlue(40, 60, 230);
const QColor kYellow(230, 210, 20);

struct Desktop {
  std::unique_ptr<screenshot_test::X11Desktop> x11;
  unsigned long red = 0, green = 0, blue = 0, yellow = 0;
  QRect red_client, green_client, blue_client, yellow_client;
};
Desktop* g_desktop = nullptr;
QTemporaryDir* g_home = nullptr;

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  static Desktop desktop;
  desktop.x11 = std::make_unique<screenshot_test::X11Desktop>(1280, 800);
  if (desktop.x11->ok()) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Nothing here draws with OpenGL; the GLX integration's driver leaks a
    // little at unload, which a sanitizer build would report.
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    // The save dialog's proposal depends on the home directory.
    static QTemporaryDir home;
    setenv("HOME", home.path().toUtf8().constData(), 1);
    unsetenv("XDG_CONFIG_HOME");
    g_home = &home;
    auto& x = *desktop.x11;
    desktop.red = x.CreateWindow(QRect(100, 120, 360, 240), kRed);
    desktop.green = x.CreateWindow(QRect(300, 260, 300, 200), kGreen);  // over the red one
    desktop.blue = x.CreateWindow(QRect(800, 150, 260, 180), kBlue);
    desktop.yellow = x.CreateWindow(QRect(800, 450, 200, 150), kYellow);
    if (desktop.red && desktop.green && desktop.blue && desktop.yellow && x.Iconify(desktop.yellow)) {
      desktop.red_client = x.ClientRect(desktop.red);
      desktop.green_client = x.ClientRect(desktop.green);
      desktop.blue_client = x.ClientRect(desktop.blue);
      desktop.yellow_client = x.ClientRect(desktop.yellow);
      g_desktop = &desktop;
    }
  }
  return new QApplication(argc, argv);
}

namespace {

void Mouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::NoButton,
           Qt::MouseButtons buttons = Qt::NoButton) {
  QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}
void Hover(QWidget* widget, const QPoint& pos) { Mouse(widget, QEvent::MouseMove, pos); }
void Drag(QWidget* widget, const QPoint& from, const QPoint& to, Qt::MouseButton button = Qt::LeftButton) {
  Mouse(widget, QEvent::MouseButtonPress, from, button, button);
  // A few steps on the way, as a hand moves.
  for (int step = 1; step <= 4; ++step) {
    Mouse(widget, QEvent::MouseMove, from + (to - from) * step / 4, Qt::NoButton, button);
  }
  Mouse(widget, QEvent::MouseButtonRelease, to, button, Qt::NoButton);
}
void Click(QWidget* widget, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton) {
  Mouse(widget, QEvent::MouseButtonPress, pos, button, button);
  Mouse(widget, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

// Colours within a small distance (scaling and compression aside).
::testing::AssertionResult Near(const QColor& actual, const QColor& expected, int tolerance = 6) {
  if (qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance &&
      qAbs(actual.blue() - expected.blue()) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "colour " << actual.name().toStdString() << " is not near "
                                       << expected.name().toStdString();
}
QColor At(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

class ScreenShotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_desktop == nullptr) GTEST_SKIP() << "no Xvfb with openbox";
    qnres::InitResources();
    QApplication::clipboard()->clear();
    shot_ = new ScreenShotWidget;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shot_.data()));
  }
  void TearDown() override {
    delete shot_.data();
    QApplication::clipboard()->clear();
  }
  // The overlay is at the screen's origin, so root and overlay coordinates agree.
  bool Gone() { return QTest::qWaitFor([this] { return shot_.isNull(); }, 3000); }
  void SelectByDrag(const QRect& rect) {
    Drag(shot_, rect.topLeft(), rect.topLeft() + QPoint(rect.width(), rect.height()));
  }
  ImageDrawer* StartDrawing(QToolButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
    return shot_->Drawer();
  }

  QPointer<ScreenShotWidget> shot_;
};

TEST_F(ScreenShotTest, ProposesTheClientAreaOfTheWindowUnderThePointer) {
  ASSERT_EQ(shot_->geometry(), QRect(0, 0, 1280, 800));
  // The green window lies over the red one; where both are, green wins.
  const QRect green = g_desktop->green_client;
  Hover(shot_, green.center());
  EXPECT_EQ(shot_->HoverRect(), green);
  Hover(shot_, QPoint(green.x() + 5, green.y() + 5));
  EXPECT_EQ(shot_->HoverRect(), green);
  Hover(shot_, g_desktop->red_client.topLeft() + QPoint(10, 10));
  EXPECT_EQ(shot_->HoverRect(), g_desktop->red_client);
  // On the blue window's title bar: its client area is proposed.
  const QRect blue = g_desktop->blue_client;
  Hover(shot_, QPoint(blue.center().x(), blue.y() - 8));
  EXPECT_EQ(shot_->HoverRect(), blue);
  // The proposal is exactly the window's pixels on the grabbed screen.
  const QImage& screen = shot_->ScreenImage();
  EXPECT_TRUE(Near(At(screen, blue.left(), blue.top()), kBlue));
  EXPECT_TRUE(Near(At(screen, blue.right(), blue.bottom()), kBlue));
  EXPECT_FALSE(Near(At(screen, blue.left() - 1, blue.top()), kBlue));
  EXPECT_FALSE(Near(At(screen, blue.left(), blue.top() - 1), kBlue));
  EXPECT_FALSE(Near(At(screen, blue.right() + 1, blue.bottom()), kBlue));
  // The bare desktop, and where the minimised window was: nothing.
  Hover(shot_, QPoint(1200, 760));
  EXPECT_TRUE(shot_->HoverRect().isNull());
  Hover(shot_, g_desktop->yellow_client.center());
  EXPECT_TRUE(shot_->HoverRect().isNull());
  EXPECT_TRUE(shot_->Selection().isNull());
  EXPECT_TRUE(shot_->MagnifierBox()->isVisible());
  EXPECT_FALSE(shot_->ToolBar()->isVisible());
}

TEST_F(ScreenShotTest, AClickTakesTheProposedWindowAndCopiesItsPixels) {
  const QRect red = g_desktop->red_client;
  const QPoint on_red = red.topLeft() + QPoint(20, 20);
  Hover(shot_, on_red);
  Click(shot_, on_red);
  EXPECT_EQ(shot_->Selection(), red);
  EXPECT_TRUE(shot_->ToolBar()->isVisible());
  EXPECT_FALSE(shot_->MagnifierBox()->isVisible());
  // The bar sits right under the selection, its right edges aligned.
  const QRect bar = shot_->ToolBar()->geometry();
  EXPECT_GT(bar.top(), red.bottom());
  EXPECT_LT(bar.top() - red.bottom(), 12);
  EXPECT_EQ(bar.right(), red.right());

  QSignalSpy copied(shot_.data(), &ScreenShotWidget::Sig_ClipBoard);
  QTest::mouseClick(shot_->ToolBar()->finishBtn, Qt::LeftButton);
  EXPECT_EQ(copied.count(), 1);
  const QImage image = QApplication::clipboard()->image();
  ASSERT_EQ(image.size(), red.size());
  // The green window covers the red one's lower right part.
  const QRect green = g_desktop->green_client.translated(-red.topLeft());
  EXPECT_TRUE(Near(At(image, 0, 0), kRed));
  EXPECT_TRUE(Near(At(image, image.width() - 1, 0), kRed));
  EXPECT_TRUE(Near(At(image, 0, image.height() - 1), kRed));
  EXPECT_TRUE(Near(At(image, green.x() + 2, green.y() + 2), kGreen));
  EXPECT_TRUE(Near(At(image, image.width() - 1, image.height() - 1), kGreen));
  EXPECT_TRUE(Gone());
}

TEST_F(ScreenShotTest, DraggingSelectsAndSidesAndCornersResize) {
  // A drag selects exactly the spanned rectangle, even right to left.
  Drag(shot_, QPoint(700, 650), QPoint(500, 500));
  EXPECT_EQ(shot_->Selection(), QRect(500, 500, 200, 150));
  EXPECT_TRUE(shot_->ToolBar()->isVisible());
  EXPECT_EQ(shot_->ZoneAt(QPoint(600, 575)), ScreenShotWidget::HitZone::kInside);
  EXPECT_EQ(shot_->ZoneAt(QPoint(700, 520)), ScreenShotWidget::HitZone::kRight);
  EXPECT_EQ(shot_->ZoneAt(QPoint(499, 651)), ScreenShotWidget::HitZone::kBottomLeft);
  EXPECT_EQ(shot_->ZoneAt(QPoint(400, 400)), ScreenShotWidget::HitZone::kOutside);

  // Right side: only the width changes, whatever the pointer does vertically.
  Drag(shot_, QPoint(700, 575), QPoint(760, 540));
  EXPECT_EQ(shot_->Selection(), QRect(500, 500, 260, 150));
  // Bottom side: only the height.
  Drag(shot_, QPoint(600, 650), QPoint(640, 700));
  EXPECT_EQ(shot_->Selection(), QRect(500, 500, 260, 200));
  // Top-left corner: both, the bottom-right corner stays.
  Drag(shot_, QPoint(500, 500), QPoint(450, 480));
  EXPECT_EQ(shot_->Selection(), QRect(450, 480, 310, 220));
  // Left side pulled across the right one: the selection turns over.
  Drag(shot_, QPoint(450, 600), QPoint(800, 600));
  EXPECT_EQ(shot_->Selection(), QRect(760, 480, 40, 220));
  // Inside: moves, and stops at the screen's edge.
  Drag(shot_, QPoint(780, 590), QPoint(1400, 590));
  EXPECT_EQ(shot_->Selection(), QRect(1240, 480, 40, 220));
  // Outside: a new selection.
  Drag(shot_, QPoint(100, 100), QPoint(150, 130));
  EXPECT_EQ(shot_->Selection(), QRect(100, 100, 50, 30));
  // A click on the bare desktop leaves nothing selected and no bar.
  Click(shot_, QPoint(1200, 20));
  EXPECT_TRUE(shot_->Selection().isNull());
  EXPECT_FALSE(shot_->ToolBar()->isVisible());
}

TEST_F(ScreenShotTest, ThreeShapesThenUndoAndTheAnnotatedCopy) {
  const QRect red = g_desktop->red_client;
  const QRect area(red.x() + 10, red.y() + 10, 150, 120);  // red only
  SelectByDrag(area);
  ASSERT_EQ(shot_->Selection(), area);
  ImageDrawer* drawer = StartDrawing(shot_->ToolBar()->rectBtn);
  ASSERT_NE(drawer, nullptr);
  EXPECT_EQ(drawer->geometry(), area);
  EXPECT_TRUE(shot_->DrawToolBar()->isVisible());
  EXPECT_GT(shot_->DrawToolBar()->y(), shot_->ToolBar()->y());
  // Black, 5 pixels.
  QTest::mouseClick(shot_->DrawToolBar()->ColorButtons().at(9), Qt::LeftButton);
  shot_->DrawToolBar()->findChild<QAbstractButton*>(QStringLiteral("thickness5"))->click();
  QWidget* canvas = drawer->View()->viewport();

  // A press and release without moving draws nothing.
  Click(canvas, QPoint(40, 40));
  EXPECT_EQ(drawer->ShapeCount(), 0);
  Drag(canvas, QPoint(10, 10), QPoint(60, 50));
  EXPECT_EQ(drawer->ShapeCount(), 1);
  QTest::mouseClick(shot_->ToolBar()->circleBtn, Qt::LeftButton);
  Drag(canvas, QPoint(80, 10), QPoint(140, 60));
  QTest::mouseClick(shot_->ToolBar()->arrowBtn, Qt::LeftButton);
  Drag(canvas, QPoint(20, 110), QPoint(140, 80));
  ASSERT_EQ(drawer->ShapeCount(), 3);
  EXPECT_NE(dynamic_cast<Image_Drawer_GUI::GraphicsRectItem*>(drawer->Shapes()[0]), nullptr);
  EXPECT_NE(dynamic_cast<Image_Drawer_GUI::GraphicsEllipseItem*>(drawer->Shapes()[1]), nullptr);
  EXPECT_NE(dynamic_cast<Image_Drawer_GUI::GraphicsArrowItem*>(drawer->Shapes()[2]), nullptr);

  // Undo takes the arrow away, and only the arrow.
  QTest::mouseClick(shot_->ToolBar()->undoBtn, Qt::LeftButton);
  ASSERT_EQ(drawer->ShapeCount(), 2);
  EXPECT_NE(dynamic_cast<Image_Drawer_GUI::GraphicsEllipseItem*>(drawer->Shapes()[1]), nullptr);

  QTest::mouseClick(shot_->ToolBar()->finishBtn, Qt::LeftButton);
  const QImage image = QApplication::clipboard()->image();
  ASSERT_EQ(image.size(), area.size());
  EXPECT_TRUE(Near(At(image, 10, 30), Qt::black));        // rectangle's left side
  EXPECT_TRUE(Near(At(image, 35, 50), Qt::black));        // its bottom side
  EXPECT_TRUE(Near(At(image, 35, 30), kRed));             // inside it
  EXPECT_TRUE(Near(At(image, 80, 35), Qt::black));        // ellipse's left end
  EXPECT_TRUE(Near(At(image, 110, 35), kRed));            // its middle
  EXPECT_TRUE(Near(At(image, 80, 95), kRed));             // where the arrow was
  EXPECT_TRUE(Near(At(image, 140, 115), kRed));
  EXPECT_TRUE(Gone());
}

TEST_F(ScreenShotTest, BarsStayOffTheSelection) {
  // Room below: the tool bar under the selection, the colour bar under it.
  SelectByDrag(QRect(300, 300, 300, 200));
  ASSERT_NE(StartDrawing(shot_->ToolBar()->rectBtn), nullptr);
  EXPECT_GE(shot_->ToolBar()->y(), 500);
  EXPECT_GE(shot_->DrawToolBar()->y(), shot_->ToolBar()->geometry().bottom());
  Click(shot_->Drawer()->View()->viewport(), QPoint(5, 5), Qt::RightButton);
  // Down at the bottom edge: both go above, the colour bar on top.
  const QRect low(900, 600, 370, 200);
  SelectByDrag(low);
  ASSERT_EQ(shot_->Selection(), low);
  ASSERT_NE(StartDrawing(shot_->ToolBar()->rectBtn), nullptr);
  EXPECT_FALSE(shot_->ToolBar()->geometry().intersects(low));
  EXPECT_FALSE(shot_->DrawToolBar()->geometry().intersects(low));
  EXPECT_LT(shot_->DrawToolBar()->geometry().bottom(), shot_->ToolBar()->y());
  EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(shot_->ToolBar()->geometry()));
  EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(shot_->DrawToolBar()->geometry()));
}

TEST_F(ScreenShotTest, ShapesTakeTheChosenColourAndHandlesResizeThem) {
  SelectByDrag(QRect(620, 100, 160, 120));  // the bare desktop
  ImageDrawer* drawer = StartDrawing(shot_->ToolBar()->arrowBtn);
  ASSERT_NE(drawer, nullptr);
  QWidget* canvas = drawer->View()->viewport();
  // Default colour (251, 56, 56), 2 pixels: an arrow along y = 60.
  Drag(canvas, QPoint(10, 60), QPoint(150, 60));
  ASSERT_EQ(drawer->ShapeCount(), 1);
  QImage image = drawer->ResultImage();
  EXPECT_TRUE(Near(At(image, 60, 60), QColor(251, 56, 56), 30));
  EXPECT_TRUE(Near(At(image, 60, 40), QColor(screenshot_test::X11Desktop::kRootColor)));
  // Undo with no shape left does nothing.
  drawer->Undo();
  drawer->Undo();
  EXPECT_EQ(drawer->ShapeCount(), 0);

  QTest::mouseClick(shot_->ToolBar()->rectBtn, Qt::LeftButton);
  QTest::mouseClick(shot_->DrawToolBar()->ColorButtons().at(1), Qt::LeftButton);  // white
  Drag(canvas, QPoint(20, 20), QPoint(80, 70));
  ASSERT_EQ(drawer->ShapeCount(), 1);
  // On the outline the shape shows its handles; the bottom-right one pulls
  // that corner out while the top-left corner stays.
  Hover(canvas, QPoint(50, 20));
  Hover(canvas, QPoint(80, 70));
  auto* rect = dynamic_cast<Image_Drawer_GUI::GraphicsRectItem*>(drawer->Shapes()[0]);
  ASSERT_NE(rect, nullptr);
  EXPECT_TRUE(rect->HandlesVisible());
  EXPECT_TRUE(drawer->View()->property("inChangeArea").toBool());
  Drag(canvas, QPoint(80, 70), QPoint(120, 100));
  EXPECT_EQ(drawer->ShapeCount(), 1);
  EXPECT_EQ(rect->rect(), QRectF(20, 20, 100, 80));
  // Dragging the outline moves the shape.
  Hover(canvas, QPoint(60, 20));
  Drag(canvas, QPoint(60, 20), QPoint(70, 30));
  EXPECT_EQ(drawer->ShapeCount(), 1);
  EXPECT_EQ(rect->mapRectToScene(rect->rect()), QRectF(30, 30, 100, 80));
  // Away from the shape new drawing starts again; handles never reach the copy.
  Hover(canvas, QPoint(5, 110));
  EXPECT_FALSE(drawer->View()->property("OccupyFocus").toBool());
  Hover(canvas, QPoint(130, 110));
  image = drawer->ResultImage();
  EXPECT_TRUE(Near(At(image, 30, 70), Qt::white));
  EXPECT_TRUE(Near(At(image, 130, 110), Qt::white));
}

TEST_F(ScreenShotTest, CopiesTheColourUnderThePointer) {
  Hover(shot_, g_desktop->green_client.center());
  QTest::keyRelease(shot_.data(), Qt::Key_C);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "0, 200, 0");
  EXPECT_EQ(shot_->MagnifierBox()->CurrentColor(), kGreen);
  // The same key through the magnifier.
  Hover(shot_, g_desktop->blue_client.center());
  QTest::keyRelease(shot_->MagnifierBox(), Qt::Key_C);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "40, 60, 230");
  EXPECT_FALSE(shot_.isNull());
}

TEST_F(ScreenShotTest, RightClickStepsBackThenCloses) {
  SelectByDrag(QRect(200, 200, 100, 100));
  ASSERT_NE(StartDrawing(shot_->ToolBar()->rectBtn), nullptr);
  QPointer<ImageDrawer> drawer = shot_->Drawer();
  // On the canvas: back to selecting, the canvas goes.
  Click(drawer->View()->viewport(), QPoint(50, 50), Qt::RightButton);
  EXPECT_TRUE(shot_->Selection().isNull());
  EXPECT_FALSE(shot_->ToolBar()->isVisible());
  EXPECT_FALSE(shot_->DrawToolBar()->isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return drawer.isNull(); }, 3000));
  EXPECT_FALSE(shot_->ToolBar()->rectBtn->isChecked());
  // Selecting works again; a right-click with a selection only clears it.
  SelectByDrag(QRect(200, 200, 100, 100));
  EXPECT_EQ(shot_->Selection(), QRect(200, 200, 100, 100));
  Click(shot_, QPoint(250, 250), Qt::RightButton);
  EXPECT_TRUE(shot_->Selection().isNull());
  EXPECT_FALSE(shot_.isNull());
  // Nothing selected: the tool ends.
  Click(shot_, QPoint(250, 250), Qt::RightButton);
  EXPECT_TRUE(Gone());
}

TEST_F(ScreenShotTest, EscapeAndCancelEndWithoutCopying) {
  QSignalSpy copied(shot_.data(), &ScreenShotWidget::Sig_ClipBoard);
  QTest::keyRelease(shot_.data(), Qt::Key_Escape);
  EXPECT_TRUE(Gone());
  EXPECT_EQ(copied.count(), 0);

  shot_ = new ScreenShotWidget;
  ASSERT_TRUE(QTest::qWaitForWindowExposed(shot_.data()));
  SelectByDrag(QRect(200, 200, 100, 100));
  QTest::mouseClick(shot_->ToolBar()->cancelBtn, Qt::LeftButton);
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(QApplication::clipboard()->image().isNull());
}

TEST_F(ScreenShotTest, EscapeTypedOnTheKeyboardReachesTheOverlay) {
  // The overlay is not managed, so it has to take the keyboard itself.
  ASSERT_TRUE(QTest::qWaitFor([this] { return shot_->windowHandle()->isExposed(); }, 3000));
  QTest::qWait(0);
  ASSERT_TRUE(g_desktop->x11->PressKey("Escape"));
  EXPECT_TRUE(Gone());
}

TEST_F(ScreenShotTest, SaveProposesPicturesAndWritesTheChosenFile) {
  const QString home = g_home->path();
  QDir(home + QStringLiteral("/Pictures")).removeRecursively();
  EXPECT_EQ(ScreenShotWidget::ProposedSaveName().toStdString(), (home + QString::fromUtf8("/未命名.jpg")).toStdString());
  ASSERT_TRUE(QDir(home).mkpath(QStringLiteral("Pictures")));
  EXPECT_EQ(ScreenShotWidget::ProposedSaveName().toStdString(),
            (home + QString::fromUtf8("/Pictures/未命名.jpg")).toStdString());

  const QRect blue = g_desktop->blue_client;
  Hover(shot_, blue.center());
  Click(shot_, blue.center());
  ASSERT_EQ(shot_->Selection(), blue);
  QSignalSpy leaving(shot_.data(), &ScreenShotWidget::Sig_DeleteLated);
  const QString target = home + QStringLiteral("/Pictures/shot.png");
  QString proposed;
  bool overlay_hidden = false;
  QTimer::singleShot(0, [&] {
    if (!QTest::qWaitFor([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
                         5000)) {
      return;
    }
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    overlay_hidden = !shot_->isVisible();
    proposed = dialog->selectedFiles().value(0);
    dialog->selectFile(target);
    static_cast<QDialog*>(dialog)->accept();
  });
  QTest::mouseClick(shot_->ToolBar()->saveBtn, Qt::LeftButton);
  EXPECT_EQ(leaving.count(), 1);
  EXPECT_TRUE(overlay_hidden);
  EXPECT_EQ(proposed.toStdString(), (home + QString::fromUtf8("/Pictures/未命名.jpg")).toStdString());
  const QImage saved(target);
  ASSERT_EQ(saved.size(), blue.size());
  EXPECT_TRUE(Near(At(saved, 0, 0), kBlue));
  EXPECT_TRUE(Near(At(saved, saved.width() - 1, saved.height() - 1), kBlue));
  EXPECT_TRUE(Gone());
  QDir(home + QStringLiteral("/Pictures")).removeRecursively();
  // The dialog was the only window left on the screen; its closing must not
  // have asked the program to quit (new event loops would not run then).
  QEventLoop loop;
  QTimer::singleShot(0, &loop, [&loop] { loop.exit(7); });
  EXPECT_EQ(loop.exec(), 7);
}

TEST_F(ScreenShotTest, SaveDialogDismissedWritesNothing) {
  SelectByDrag(QRect(200, 200, 100, 100));
  bool asked = false;
  QTimer::singleShot(0, [&asked] {
    if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000)) return;
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      asked = true;
      dialog->reject();
    }
  });
  QTest::mouseClick(shot_->ToolBar()->saveBtn, Qt::LeftButton);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(QDir(g_home->path()).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.png")}, QDir::Files).isEmpty());
}

// Without a manager that keeps the stacking list the root's children are
// walked, and a client below a frame is found by its WM_STATE.
TEST(WindowListTest, RootChildrenWithoutStackingList) {
  if (g_desktop == nullptr) GTEST_SKIP() << "no X";
  qnchat_test::Xvfb bare(800, 600);
  ASSERT_TRUE(bare.ok());
  Display* d = XOpenDisplay(bare.display().c_str());
  ASSERT_NE(d, nullptr);
  const Window root = DefaultRootWindow(d);
  const Window lower = XCreateSimpleWindow(d, root, 10, 20, 200, 100, 0, 0, 0xff0000);
  const Window frame = XCreateSimpleWindow(d, root, 100, 60, 220, 150, 0, 0, 0x888888);
  const Window client = XCreateSimpleWindow(d, frame, 5, 25, 210, 120, 0, 0, 0x00ff00);
  const Window hidden = XCreateSimpleWindow(d, root, 400, 300, 100, 100, 0, 0, 0x0000ff);
  const Atom wm_state = XInternAtom(d, "WM_STATE", False);
  const long state[2] = {1, 0};
  XChangeProperty(d, client, wm_state, wm_state, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
  XMapWindow(d, lower);
  XMapWindow(d, client);
  XMapWindow(d, frame);
  XSync(d, False);

  const std::string saved = getenv("DISPLAY");
  setenv("DISPLAY", bare.display().c_str(), 1);
  const QVector<screenshot::WindowRect> windows = screenshot::ListTopLevelWindows();
  setenv("DISPLAY", saved.c_str(), 1);
  XCloseDisplay(d);

  ASSERT_EQ(windows.size(), 3);
  // Topmost first: the last created is on top.
  EXPECT_EQ(windows[0].id, hidden);
  EXPECT_FALSE(windows[0].viewable);
  EXPECT_EQ(windows[1].id, frame);
  EXPECT_EQ(windows[1].frame, QRect(100, 60, 220, 150));
  EXPECT_EQ(windows[1].client, QRect(105, 85, 210, 120));
  EXPECT_TRUE(windows[1].viewable);
  EXPECT_EQ(windows[2].frame, QRect(10, 20, 200, 100));
  EXPECT_EQ(windows[2].client, QRect(10, 20, 200, 100));
  // On the frame's title the client area is proposed; on the hidden one nothing.
  EXPECT_EQ(screenshot::WindowClientAt(windows, QPoint(150, 70), QSize(800, 600)), QRect(105, 85, 210, 120));
  EXPECT_EQ(screenshot::WindowClientAt(windows, QPoint(50, 50), QSize(800, 600)), QRect(10, 20, 200, 100));
  EXPECT_EQ(screenshot::WindowClientAt(windows, QPoint(450, 350), QSize(800, 600)), QRect());
}

}  // namespace
