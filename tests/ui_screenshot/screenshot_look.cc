// Pictures of the screenshot tool in its states on a private desktop, for
// looking at (not run by ctest): screenshot_look <output directory>.
#include <QApplication>
#include <QDir>
#include <QGraphicsView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <cstdio>
#include <cstdlib>

#include "resources/resources.h"
#include "ui/screenshot/image_drawer.h"
#include "ui/screenshot/magnifier.h"
#include "ui/screenshot/screen_shot_widget.h"
#include "ui/screenshot/tools.h"
#include "ui_screenshot/x11_desktop.h"

namespace {

void Mouse(QWidget* widget, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::NoButton,
           Qt::MouseButtons buttons = Qt::NoButton) {
  QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}
void Drag(QWidget* widget, const QPoint& from, const QPoint& to) {
  Mouse(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  for (int step = 1; step <= 4; ++step) {
    Mouse(widget, QEvent::MouseMove, from + (to - from) * step / 4, Qt::NoButton, Qt::LeftButton);
  }
  Mouse(widget, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// The whole screen as X shows it, the overlay's windows included.
bool Save(ScreenShotWidget* shot, const QString& path) {
  shot->repaint();
  if (shot->MagnifierBox()->isVisible()) shot->MagnifierBox()->repaint();
  QTest::qWait(50);
  return QGuiApplication::primaryScreen()->grabWindow(0).save(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
    return 2;
  }
  screenshot_test::X11Desktop desktop(1280, 800);
  if (!desktop.ok()) {
    fprintf(stderr, "no Xvfb with openbox\n");
    return 1;
  }
  desktop.CreateWindow(QRect(80, 100, 420, 280), QColor(220, 30, 30));
  desktop.CreateWindow(QRect(820, 420, 300, 220), QColor(40, 60, 230));
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  const QDir out(QString::fromLocal8Bit(argv[1]));

  // A window with text, as a chat or an editor would be.
  QLabel text(QString::fromUtf8("<h2>QN快信</h2><p>今天下午三点开会，请带上周报。</p>"
                                "<p>The build is green again; screenshots attached below.</p>"));
  text.setWindowTitle(QStringLiteral("notes"));
  text.setMargin(16);
  text.setStyleSheet(QStringLiteral("background: #f5f7fd; color: #333;"));
  text.setGeometry(540, 140, 420, 200);
  text.show();
  if (!QTest::qWaitForWindowExposed(&text)) return 1;
  QTest::qWait(200);

  auto* shot = new ScreenShotWidget;
  if (!QTest::qWaitForWindowExposed(shot)) return 1;
  // Hovering the text window: its area is proposed, the magnifier follows.
  const QPoint over_text = text.mapToGlobal(QPoint(120, 60));
  Mouse(shot, QEvent::MouseMove, over_text);
  Save(shot, out.filePath(QStringLiteral("shot_hover.png")));

  // A drag over the red and the text window: the selection with its bar.
  Drag(shot, QPoint(300, 200), QPoint(760, 430));
  Save(shot, out.filePath(QStringLiteral("shot_selected.png")));

  // Shapes in three colours and thicknesses.
  QTest::mouseClick(shot->ToolBar()->rectBtn, Qt::LeftButton);
  QWidget* canvas = shot->Drawer()->View()->viewport();
  Drag(canvas, QPoint(30, 30), QPoint(200, 120));
  QTest::mouseClick(shot->DrawToolBar()->ColorButtons().at(8), Qt::LeftButton);
  shot->DrawToolBar()->findChild<QAbstractButton*>(QStringLiteral("thickness3"))->click();
  QTest::mouseClick(shot->ToolBar()->circleBtn, Qt::LeftButton);
  Drag(canvas, QPoint(240, 40), QPoint(420, 150));
  QTest::mouseClick(shot->DrawToolBar()->ColorButtons().at(0), Qt::LeftButton);
  shot->DrawToolBar()->findChild<QAbstractButton*>(QStringLiteral("thickness5"))->click();
  QTest::mouseClick(shot->ToolBar()->arrowBtn, Qt::LeftButton);
  Drag(canvas, QPoint(60, 210), QPoint(230, 150));
  // The pointer on the rectangle's outline shows its handles.
  QCursor::setPos(canvas->mapToGlobal(QPoint(100, 30)));
  QTest::qWait(100);
  Mouse(canvas, QEvent::MouseMove, QPoint(100, 30));
  Save(shot, out.filePath(QStringLiteral("shot_drawing.png")));
  // Enlarged, for the details.
  auto enlarged = [](const QImage& image) { return image.scaled(image.size() * 3, Qt::KeepAspectRatio, Qt::FastTransformation); };
  enlarged(shot->ToolBar()->grab().toImage()).save(out.filePath(QStringLiteral("shot_tools_x3.png")));
  enlarged(shot->DrawToolBar()->grab().toImage()).save(out.filePath(QStringLiteral("shot_draw_tools_x3.png")));
  enlarged(QImage(out.filePath(QStringLiteral("shot_drawing.png"))).copy(QRect(290, 190, 300, 200)))
      .save(out.filePath(QStringLiteral("shot_drawing_x3.png")));

  // Near the bottom-right corner: the bar goes above, the magnifier flips.
  Mouse(shot, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::RightButton, Qt::NoButton);
  QTest::qWait(50);
  Mouse(shot, QEvent::MouseMove, QPoint(1200, 760));
  Drag(shot, QPoint(900, 600), QPoint(1270, 795));
  Mouse(shot, QEvent::MouseButtonPress, QPoint(1200, 760), Qt::LeftButton, Qt::LeftButton);
  Mouse(shot, QEvent::MouseMove, QPoint(1210, 770), Qt::NoButton, Qt::LeftButton);
  Save(shot, out.filePath(QStringLiteral("shot_corner_pressing.png")));
  Mouse(shot, QEvent::MouseButtonRelease, QPoint(1210, 770), Qt::LeftButton, Qt::NoButton);
  Save(shot, out.filePath(QStringLiteral("shot_corner.png")));
  delete shot;
  printf("pictures in %s\n", argv[1]);
  return 0;
}
