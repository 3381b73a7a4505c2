#include "ui/common/dpi_scale.h"

#include <QGuiApplication>
#include <QScreen>

double DpiScale() {
  static const double scale = [] {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return 1.0;
    const double dpi = screen->logicalDotsPerInch();
    return dpi > 0 ? dpi / 96.0 : 1.0;
  }();
  return scale;
}
