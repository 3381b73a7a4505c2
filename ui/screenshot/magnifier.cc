#include "ui/screenshot/magnifier.h"

#include <QKeyEvent>
#include <QPainter>

namespace {

// Gap between the cursor and the box.
constexpr int kCursorGap = 25;

}  // namespace

Magnifier::Magnifier(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::ToolTip),
      zoomed_(kWidth, kWidth, QImage::Format_RGB32) {
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  zoomed_.fill(Qt::black);
}

void Magnifier::SetScreenImage(const QImage& image) {
  screen_ = image;
  const double ratio = image.devicePixelRatio() > 0 ? image.devicePixelRatio() : 1.0;
  const QSize screen_size = (QSizeF(image.size()) / ratio).toSize();
  // The box's own size plus the gap must fit on the cursor's far side.
  edge_margin_ = screen_size - QSize(kWidth + kCursorGap, kHeight + kCursorGap);
}

void Magnifier::UpdateAt(const QPoint& global_pos, const QSize& selection_size) {
  cursor_ = global_pos;
  selection_size_ = selection_size;
  const double ratio = screen_.devicePixelRatio() > 0 ? screen_.devicePixelRatio() : 1.0;
  const QPoint device(qRound(global_pos.x() * ratio), qRound(global_pos.y() * ratio));
  color_ = screen_.valid(device) ? QColor(screen_.pixel(device)) : QColor(Qt::black);

  // kWidth / zoom_ source pixels around the cursor, each drawn zoom_ wide;
  // what lies beyond the screen stays black.
  const int span = kWidth / zoom_;
  const QRect source(device.x() - span / 2, device.y() - span / 2, span, span);
  zoomed_.fill(Qt::black);
  {
    QPainter painter(&zoomed_);
    const QImage part = screen_.copy(source);  // outside parts come back black
    painter.drawImage(QRect(0, 0, span * zoom_, span * zoom_), part);
    painter.setPen(QPen(QColor(127, 255, 255, 150), zoom_));
    const int middle = (span / 2) * zoom_ + zoom_ / 2;
    painter.drawLine(middle, 0, middle, kWidth);
    painter.drawLine(0, middle, kWidth, middle);
  }

  QPoint pos = global_pos + QPoint(kCursorGap, kCursorGap);
  if (global_pos.x() > edge_margin_.width()) pos.setX(global_pos.x() - kCursorGap - kWidth);
  if (global_pos.y() > edge_margin_.height()) pos.setY(global_pos.y() - kCursorGap - kHeight);
  move(pos);
  update();
}

void Magnifier::keyReleaseEvent(QKeyEvent* event) { emit Sig_KeyClicked(static_cast<Qt::Key>(event->key())); }

void Magnifier::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QRect(0, 0, kWidth, kWidth), zoomed_);
  painter.setPen(QColor(33, 33, 33));
  painter.drawRect(0, 0, kWidth - 1, kWidth - 1);
  painter.fillRect(0, kWidth, kWidth, kHeight - kWidth, QColor(33, 33, 33));
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  painter.setPen(Qt::white);
  const QString text = QString::fromUtf8("宽高:(%1x%2)\n鼠标:(%3,%4)\nRGB:(%5,%6,%7)\n按C复制RGB")
                           .arg(selection_size_.width())
                           .arg(selection_size_.height())
                           .arg(cursor_.x())
                           .arg(cursor_.y())
                           .arg(color_.red())
                           .arg(color_.green())
                           .arg(color_.blue());
  painter.drawText(QRect(2, kWidth, kWidth - 2, kHeight - kWidth), Qt::AlignLeft | Qt::AlignVCenter, text);
}
