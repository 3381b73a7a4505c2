// Waiting inside a Qt test: runs the GUI thread's event loop until a
// condition holds. Called on the GUI thread only.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <functional>

namespace qnchat_test {

// Processes events until pred() is true (true) or timeout_ms passes (false).
// Some conditions live in X servers, other processes or files, which send no
// Qt events: pred is looked at again at least every 50 ms.
inline bool RunUntil(const std::function<bool()>& pred, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    const qint64 left = timeout_ms - clock.elapsed();
    if (left <= 0) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents,
                                    static_cast<int>(std::min<qint64>(left, 50)));
  }
  return true;
}

}  // namespace qnchat_test
