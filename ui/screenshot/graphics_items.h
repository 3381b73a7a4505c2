// The annotation shapes of the screenshot canvas: rectangle, ellipse and
// arrow, each with round handles that resize it, and movable as a whole.
// Items live in the canvas's scene; GUI thread.
#pragma once

#include <QGraphicsEllipseItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QPen>
#include <QVector>

namespace Image_Drawer_GUI {

class GraphicsChangeItem;

// What the canvas needs of every shape. Points are in the shape's own
// coordinates (the scene's until the shape is moved).
class GraphicsItem {
 public:
  virtual ~GraphicsItem();
  virtual void SetStartPoint(const QPointF& point) = 0;
  virtual void SetEndPoint(const QPointF& point) = 0;
  virtual void SetPen(const QPen& pen) = 0;
  // Where the resize handles sit, in the shape's coordinates.
  virtual QVector<QPointF> HandlePositions() const = 0;
  // Moves the handle `index` to `point`; the opposite side stays put.
  virtual void ResizeByHandle(int index, const QPointF& point) = 0;
  // The handle at `point` (shape coordinates), or -1.
  virtual int HandleAt(const QPointF& point) const;

  // The QGraphicsItem behind this shape.
  virtual QGraphicsItem* Item() = 0;
  void ShowHandles(bool show);
  bool HandlesVisible() const { return handles_visible_; }

 protected:
  // Creates or moves the handles after the geometry changed.
  void PlaceHandles();
  // Marks the view under the shape: the pointer is on a shape, which takes
  // the mouse itself.
  void SetOccupyFocus(bool on);

  QPointF start_;
  QPointF end_;
  QVector<GraphicsChangeItem*> handles_;
  bool handles_visible_ = false;
};

// The common item behaviour of the three shapes, over their Qt item.
template <typename Base>
class GraphicsShape : public Base, public GraphicsItem {
 public:
  GraphicsShape();
  QGraphicsItem* Item() override { return this; }

 protected:
  void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
  void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
  void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
  void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;
};

class GraphicsRectItem : public GraphicsShape<QGraphicsRectItem> {
 public:
  GraphicsRectItem();
  void SetStartPoint(const QPointF& point) override;
  void SetEndPoint(const QPointF& point) override;
  void SetPen(const QPen& pen) override;
  QVector<QPointF> HandlePositions() const override;
  void ResizeByHandle(int index, const QPointF& point) override;
  // Only the outline takes the mouse, so new shapes can start inside.
  QPainterPath shape() const override;

 private:
  void Apply();
};

class GraphicsEllipseItem : public GraphicsShape<QGraphicsEllipseItem> {
 public:
  GraphicsEllipseItem();
  void SetStartPoint(const QPointF& point) override;
  void SetEndPoint(const QPointF& point) override;
  void SetPen(const QPen& pen) override;
  QVector<QPointF> HandlePositions() const override;
  void ResizeByHandle(int index, const QPointF& point) override;
  QPainterPath shape() const override;

 private:
  void Apply();
};

// A filled arrow from the start point to the end point, the head at the end.
class GraphicsArrowItem : public GraphicsShape<QGraphicsPolygonItem> {
 public:
  GraphicsArrowItem();
  void SetStartPoint(const QPointF& point) override;
  void SetEndPoint(const QPointF& point) override;
  void SetPen(const QPen& pen) override;
  QVector<QPointF> HandlePositions() const override;
  void ResizeByHandle(int index, const QPointF& point) override;
  QPainterPath shape() const override;

  // The arrow's outline for a line of `thickness` pixels.
  static QPolygonF ArrowPolygon(const QPointF& start, const QPointF& end, double thickness);

 private:
  void Apply();
  double thickness_ = 2;
};

// A small round handle of a shape (a child item of it). While the pointer is
// on it the view carries "inChangeArea" = true; dragging it resizes the shape.
class GraphicsChangeItem : public QGraphicsEllipseItem {
 public:
  static constexpr double kRadius = 4;
  GraphicsChangeItem(GraphicsItem* owner, int index, QGraphicsItem* parent);

 protected:
  void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
  void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
  void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;

 private:
  void SetInChangeArea(bool on);
  GraphicsItem* owner_;
  int index_;
};

}  // namespace Image_Drawer_GUI
