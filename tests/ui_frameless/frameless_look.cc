// Look check, not a test: shows the demo window and dialog on a private
// Xvfb with openbox and writes pictures of them to the directory given.
//   ui_frameless_look <out-dir> [dpi]
// Writes window.png and dialog.png (the widgets with their translucent band,
// laid on a grey desktop colour, and their top-left corners enlarged) and
// screen.png / maximized.png (the X screen as shown without a compositor).
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "resources/resources.h"
#include "support/qt/look.h"
#include "ui_frameless/demo_windows.h"
#include "ui_frameless/x11_session.h"

namespace {

QImage OnBackground(QWidget* widget) { return qnchat_test::OnReviewBackground(widget); }

// The top-left corner, four times enlarged, to judge the band and its seams.
QImage Corner(const QImage& image) {
  return image.copy(0, 0, 60, 60).scaled(240, 240, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

}  // namespace

int main(int argc, char** argv) {
  QString out_dir;
  if (!qnchat_test::ReadLookArguments(argc, argv, &out_dir)) return 2;
  frameless_test::X11Session session(1600, 1000);
  if (!session.ok()) {
    fprintf(stderr, "no Xvfb with openbox\n");
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  QDir().mkpath(out_dir);
  // The widget pictures show the band as a compositing desktop blends it.
  session.ClaimCompositing(true);

  frameless_test::DemoWindow window;
  window.move(30, 30);
  window.show();
  frameless_test::DemoDialog dialog;
  dialog.move(window.x() + window.width() + 30, 60);
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&window) || !QTest::qWaitForWindowExposed(&dialog)) return 1;
  QTest::qWait(300);  // let the window manager place both and the first paint settle

  const QImage window_image = OnBackground(&window);
  const QImage dialog_image = OnBackground(&dialog);
  bool ok = window_image.save(out_dir + "/window.png");
  ok = dialog_image.save(out_dir + "/dialog.png") && ok;
  ok = Corner(window_image).save(out_dir + "/window_corner.png") && ok;
  ok = Corner(dialog_image).save(out_dir + "/dialog_corner.png") && ok;
  // The X screen itself has no compositor: the windows drop their band.
  session.ClaimCompositing(false);
  window.hide();
  dialog.hide();
  window.show();
  dialog.show();
  QTest::qWait(300);
  ok = app.primaryScreen()->grabWindow(0).save(out_dir + "/screen.png") && ok;
  window.showMaximized();
  if (!QTest::qWaitFor([&] { return window.isMaximized(); })) return 1;
  QTest::qWait(300);
  ok = app.primaryScreen()->grabWindow(0).save(out_dir + "/maximized.png") && ok;
  printf("DpiScale %g, pictures in %s\n", DpiScale(), argv[1]);
  return ok ? 0 : 1;
}
