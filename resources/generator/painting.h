// Drawing helpers and the project's palette for the generated interface images.
// Used only by the build-time generator (qnchat_resgen); runs on its single thread.
#ifndef QNCHAT_RESOURCES_GENERATOR_PAINTING_H_
#define QNCHAT_RESOURCES_GENERATOR_PAINTING_H_

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <initializer_list>

namespace resgen {

// Palette of the interface; the style sheets use the same values.
inline const QColor kAccent{0x67, 0x8B, 0xF1};       // "#678BF1"
inline const QColor kAccentDark{0x4F, 0x73, 0xDD};   // pressed / gradient end
inline const QColor kAccentLight{0x8A, 0xA6, 0xF6};  // gradient start
inline const QColor kPage{0xF5, 0xF7, 0xFD};         // "#f5f7fd"
inline const QColor kMuted{0xB1, 0xB5, 0xBB};        // "#B1B5BB"
inline const QColor kSoft{0xDB, 0xE6, 0xFA};         // "#dbe6fa"
inline const QColor kIcon{0x86, 0x8E, 0x9E};         // idle icon strokes
inline const QColor kInk{0x45, 0x4B, 0x57};          // dark strokes on light bars
inline const QColor kDanger{0xE5, 0x57, 0x4C};       // (229, 87, 76), the badge red
inline const QColor kBorder{0xE2, 0xE6, 0xEE};

// A transparent image of size x size (times scale) whose painter works in a
// grid x grid coordinate system, so one drawing serves every output size.
class Canvas {
 public:
  Canvas(int size, double grid, int scale = 1);
  Canvas(int width, int height, double grid_w, double grid_h, int scale);
  QPainter& p() { return painter_; }
  QImage Take();

  // Round-capped stroke of a path or polyline in grid units.
  void Stroke(const QPainterPath& path, const QColor& color, double width);
  void Line(std::initializer_list<QPointF> points, const QColor& color, double width);
  void Fill(const QPainterPath& path, const QColor& color);

 private:
  QImage image_;
  QPainter painter_;
};

QPainterPath RoundRect(double x, double y, double w, double h, double r);
QPainterPath Circle(double cx, double cy, double r);
QPainterPath Polygon(std::initializer_list<QPointF> points);

// Writes key/value text chunks into the PNG so readers can find slicing data.
void Annotate(QImage& image, const char* key, const QString& value);

}  // namespace resgen

#endif  // QNCHAT_RESOURCES_GENERATOR_PAINTING_H_
