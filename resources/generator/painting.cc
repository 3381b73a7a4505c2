#include "painting.h"

#include <QPolygonF>

namespace resgen {

Canvas::Canvas(int size, double grid, int scale) : Canvas(size, size, grid, grid, scale) {}

Canvas::Canvas(int width, int height, double grid_w, double grid_h, int scale)
    : image_(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied) {
  image_.fill(Qt::transparent);
  painter_.begin(&image_);
  painter_.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                          QPainter::TextAntialiasing);
  painter_.scale(width * scale / grid_w, height * scale / grid_h);
}

QImage Canvas::Take() {
  painter_.end();
  return image_.convertToFormat(QImage::Format_ARGB32);
}

void Canvas::Stroke(const QPainterPath& path, const QColor& color, double width) {
  painter_.save();
  painter_.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter_.setBrush(Qt::NoBrush);
  painter_.drawPath(path);
  painter_.restore();
}

void Canvas::Line(std::initializer_list<QPointF> points, const QColor& color, double width) {
  QPainterPath path;
  bool first = true;
  for (const QPointF& pt : points) {
    if (first) {
      path.moveTo(pt);
      first = false;
    } else {
      path.lineTo(pt);
    }
  }
  Stroke(path, color, width);
}

void Canvas::Fill(const QPainterPath& path, const QColor& color) {
  painter_.save();
  painter_.setPen(Qt::NoPen);
  painter_.setBrush(color);
  painter_.drawPath(path);
  painter_.restore();
}

QPainterPath RoundRect(double x, double y, double w, double h, double r) {
  QPainterPath path;
  path.addRoundedRect(QRectF(x, y, w, h), r, r);
  return path;
}

QPainterPath Circle(double cx, double cy, double r) {
  QPainterPath path;
  path.addEllipse(QPointF(cx, cy), r, r);
  return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
  QPainterPath path;
  path.addPolygon(QPolygonF(QVector<QPointF>(points)));
  path.closeSubpath();
  return path;
}

void Annotate(QImage& image, const char* key, const QString& value) {
  image.setText(QString::fromLatin1(key), value);
}

}  // namespace resgen
