#include "ui/chat/bubble/nine_image.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace qn {

namespace {

bool ParseMargins(const QString& text, QMargins* margins) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != 4) return false;
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok || values[i] < 0) return false;
  }
  *margins = QMargins(values[0], values[1], values[2], values[3]);
  return true;
}

}  // namespace

NineImage::NineImage(const QString& path) : QImage(path) {
  if (isNull()) return;
  if (!ParseMargins(text(QStringLiteral("NinePatch")), &slices_) ||
      slices_.left() + slices_.right() >= width() ||
      slices_.top() + slices_.bottom() >= height()) {
    slices_ = QMargins(width() / 3, height() / 3, width() / 3, height() / 3);
  }
  if (!ParseMargins(text(QStringLiteral("NinePatchContent")), &content_)) content_ = QMargins();
}

void NineImage::Draw(QPainter* painter, const QRect& target, double scale) const {
  if (isNull() || target.isEmpty()) return;
  // Destination border: the source border times scale, shrunk when the target
  // is too small to hold both borders of an axis.
  auto fit = [](double a, double b, int room, int* da, int* db) {
    double total = a + b;
    double factor = total > room && total > 0 ? room / total : 1.0;
    *da = static_cast<int>(std::floor(a * factor));
    *db = static_cast<int>(std::floor(b * factor));
  };
  int dl, dr, dt, db;
  fit(slices_.left() * scale, slices_.right() * scale, target.width(), &dl, &dr);
  fit(slices_.top() * scale, slices_.bottom() * scale, target.height(), &dt, &db);

  const int sl = slices_.left(), sr = slices_.right(), st = slices_.top(), sb = slices_.bottom();
  const int sw = width(), sh = height();
  const int sx[4] = {0, sl, sw - sr, sw};
  const int sy[4] = {0, st, sh - sb, sh};
  const int dx[4] = {target.left(), target.left() + dl, target.left() + target.width() - dr,
                     target.left() + target.width()};
  const int dy[4] = {target.top(), target.top() + dt, target.top() + target.height() - db,
                     target.top() + target.height()};

  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const QRect src(sx[col], sy[row], sx[col + 1] - sx[col], sy[row + 1] - sy[row]);
      const QRect dst(dx[col], dy[row], dx[col + 1] - dx[col], dy[row + 1] - dy[row]);
      if (src.isEmpty() || dst.isEmpty()) continue;
      painter->drawImage(dst, *this, src);
    }
  }
  painter->restore();
}

}  // namespace qn
