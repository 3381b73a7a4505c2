// The one main of every Qt test program: picks the offscreen platform unless
// the caller chose one (QT_QPA_PLATFORM, or DISPLAY-based runs that set it to
// xcb), creates the application and runs GoogleTest inside it, so widgets,
// timers and queued calls work as they do in the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "support/qt/qt_test_main.h"

__attribute__((weak)) QApplication* CreateTestApplication(int& argc, char** argv) {
  return new QApplication(argc, argv);
}

int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The offscreen platform's warnings about missing screens are noise here.
  if (!getenv("QNCHAT_TEST_KEEP_HOME")) setenv("QT_LOGGING_RULES", "qt.qpa.*=false", 0);
  testing::InitGoogleTest(&argc, argv);
  std::unique_ptr<QApplication> app(CreateTestApplication(argc, argv));
  int result = 1;
  // Run inside the event loop so that code under test may rely on a running
  // loop (deferred deletes, queued calls between threads).
  QTimer::singleShot(0, app.get(), [&result, &app] {
    result = RUN_ALL_TESTS();
    app->exit(0);
  });
  app->exec();
  return result;
}
