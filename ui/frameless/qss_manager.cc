#include "ui/frameless/qss_manager.h"

#include <QFile>
#include <QRegularExpression>
#include <QStyle>
#include <QWidget>

#include "ui/common/dpi_scale.h"

QssManager::QssManager(QWidget* parent) : QObject(parent) {}

bool QssManager::Apply(const QString& path, const QString& extra) {
  QWidget* widget = qobject_cast<QWidget*>(parent());
  if (widget == nullptr) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QString text = QString::fromUtf8(file.readAll());
  if (!extra.isEmpty()) text += QLatin1Char('\n') + extra;
  widget->setStyleSheet(ScaleStyleSheet(text, DpiScale()));
  return true;
}

QString QssManager::ScaleStyleSheet(const QString& text, double scale) {
  if (!(scale > 1)) return text;
  static const QRegularExpression kPixels(QStringLiteral("(\\d+)px;"));
  QString result;
  result.reserve(text.size() + text.size() / 8);
  int copied = 0;
  QRegularExpressionMatchIterator it = kPixels.globalMatch(text);
  while (it.hasNext()) {
    const QRegularExpressionMatch match = it.next();
    result += text.midRef(copied, match.capturedStart() - copied);
    // Long digit runs overflow an int; a double keeps their magnitude.
    const double value = match.capturedRef(1).toDouble() * scale;
    result += QString::number(value, 'g', 6) + QStringLiteral("px;");
    copied = match.capturedEnd();
  }
  result += text.midRef(copied);
  return result;
}

void QssManager::Repolish(QWidget* widget) {
  widget->style()->unpolish(widget);
  widget->style()->polish(widget);
  widget->update();
}
