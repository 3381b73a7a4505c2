#include "ui/lists/base_button.h"

#include <QPainter>

#include "ui/common/dpi_scale.h"

BaseButton::BaseButton(QWidget* parent) : QPushButton(parent) {}

void BaseButton::SetNewMessageCount(int count) {
  newMessageCount_ = count;
  update();
}

void BaseButton::SetSelectedItemNewMessageCount(int count) {
  selectedItemNewMessageCount_ = count;
  update();
}

void BaseButton::AddNewMessageCount(int count) {
  newMessageCount_ += count;
  update();
}

void BaseButton::AddSelectedItemNewMessageCount(int count) {
  selectedItemNewMessageCount_ += count;
  update();
}

QString BaseButton::BadgeText() const {
  const int sum = newMessageCount_ + selectedItemNewMessageCount_;
  if (sum <= 0) return QString();
  // Three digits do not fit the disc; a user only needs to know it is many.
  return sum > 99 ? QStringLiteral("99+") : QString::number(sum);
}

void BaseButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  const QString text = BadgeText();
  if (text.isEmpty()) return;
  const double scale = DpiScale();
  const double diameter = 15 * scale;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(229, 87, 76));
  const QRectF disc(width() - diameter - scale, scale, diameter, diameter);
  painter.drawEllipse(disc);
  QFont small = font();
  if (small.pointSizeF() > 1) small.setPointSizeF(small.pointSizeF() - 1);
  if (text.size() > 2) small.setPointSizeF(small.pointSizeF() * 0.75);
  painter.setFont(small);
  painter.setPen(Qt::white);
  painter.drawText(disc, Qt::AlignCenter, text);
}
