#include "ui/screenshot/graphics_items.h"

#include <QBrush>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QPainterPathStroker>
#include <QtMath>

namespace Image_Drawer_GUI {
namespace {

// How far beside a thin outline the pointer still counts as on it.
constexpr double kGrabWidth = 8;

QPainterPath Outline(const QPainterPath& path, const QPen& pen) {
  QPainterPathStroker stroker;
  stroker.setWidth(qMax<double>(pen.widthF(), 1) + kGrabWidth);
  return stroker.createStroke(path);
}

void SetViewProperty(QGraphicsItem* item, const char* name, bool on) {
  if (item->scene() == nullptr) return;
  for (QGraphicsView* view : item->scene()->views()) view->setProperty(name, on);
}

}  // namespace

GraphicsItem::~GraphicsItem() = default;

int GraphicsItem::HandleAt(const QPointF& point) const {
  const QVector<QPointF> positions = HandlePositions();
  for (int i = 0; i < positions.size(); ++i) {
    if (QLineF(positions[i], point).length() <= GraphicsChangeItem::kRadius + 2) return i;
  }
  return -1;
}

void GraphicsItem::ShowHandles(bool show) {
  handles_visible_ = show;
  for (GraphicsChangeItem* handle : handles_) handle->setVisible(show);
}

void GraphicsItem::PlaceHandles() {
  const QVector<QPointF> positions = HandlePositions();
  while (handles_.size() < positions.size()) {
    auto* handle = new GraphicsChangeItem(this, handles_.size(), Item());
    handle->setVisible(handles_visible_);
    handles_.append(handle);
  }
  for (int i = 0; i < positions.size(); ++i) handles_[i]->setPos(positions[i]);
}

void GraphicsItem::SetOccupyFocus(bool on) { SetViewProperty(Item(), "OccupyFocus", on); }

template <typename Base>
GraphicsShape<Base>::GraphicsShape() {
  this->setFlag(QGraphicsItem::ItemIsMovable);
  this->setAcceptHoverEvents(true);
  this->setCursor(Qt::SizeAllCursor);
}

template <typename Base>
void GraphicsShape<Base>::mousePressEvent(QGraphicsSceneMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  Base::mousePressEvent(event);
}

template <typename Base>
void GraphicsShape<Base>::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
  Base::mouseMoveEvent(event);
}

template <typename Base>
void GraphicsShape<Base>::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
  Base::mouseReleaseEvent(event);
}

template <typename Base>
void GraphicsShape<Base>::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
  ShowHandles(true);
  SetOccupyFocus(true);
  Base::hoverEnterEvent(event);
}

template <typename Base>
void GraphicsShape<Base>::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
  // A shape under another one's hover may have lost the mark; keep it.
  SetOccupyFocus(true);
  Base::hoverMoveEvent(event);
}

template <typename Base>
void GraphicsShape<Base>::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
  ShowHandles(false);
  SetOccupyFocus(false);
  Base::hoverLeaveEvent(event);
}

template class GraphicsShape<QGraphicsRectItem>;
template class GraphicsShape<QGraphicsEllipseItem>;
template class GraphicsShape<QGraphicsPolygonItem>;

// Rectangle and ellipse: handles 0–3 are the corners from the start point
// round, 4–7 the middles of the top, right, bottom and left sides. Start and
// end are kept as dragged (not normalised), so a handle pulled across the
// opposite side keeps working.
namespace {

QVector<QPointF> BoxHandles(const QPointF& s, const QPointF& e) {
  const double mx = (s.x() + e.x()) / 2, my = (s.y() + e.y()) / 2;
  return {s, QPointF(e.x(), s.y()), e, QPointF(s.x(), e.y()),
          QPointF(mx, s.y()), QPointF(e.x(), my), QPointF(mx, e.y()), QPointF(s.x(), my)};
}

void ResizeBox(QPointF* s, QPointF* e, int index, const QPointF& p) {
  switch (index) {
    case 0: *s = p; break;
    case 1: e->setX(p.x()); s->setY(p.y()); break;
    case 2: *e = p; break;
    case 3: s->setX(p.x()); e->setY(p.y()); break;
    case 4: s->setY(p.y()); break;
    case 5: e->setX(p.x()); break;
    case 6: e->setY(p.y()); break;
    case 7: s->setX(p.x()); break;
    default: break;
  }
}

}  // namespace

GraphicsRectItem::GraphicsRectItem() { setBrush(Qt::NoBrush); }
void GraphicsRectItem::SetStartPoint(const QPointF& point) { start_ = end_ = point; Apply(); }
void GraphicsRectItem::SetEndPoint(const QPointF& point) { end_ = point; Apply(); }
void GraphicsRectItem::SetPen(const QPen& pen) {
  QPen square = pen;
  square.setJoinStyle(Qt::MiterJoin);
  setPen(square);
}
QVector<QPointF> GraphicsRectItem::HandlePositions() const { return BoxHandles(start_, end_); }
void GraphicsRectItem::ResizeByHandle(int index, const QPointF& point) {
  ResizeBox(&start_, &end_, index, point);
  Apply();
}
QPainterPath GraphicsRectItem::shape() const {
  QPainterPath path;
  path.addRect(rect());
  return Outline(path, pen());
}
void GraphicsRectItem::Apply() {
  setRect(QRectF(start_, end_).normalized());
  PlaceHandles();
}

GraphicsEllipseItem::GraphicsEllipseItem() { setBrush(Qt::NoBrush); }
void GraphicsEllipseItem::SetStartPoint(const QPointF& point) { start_ = end_ = point; Apply(); }
void GraphicsEllipseItem::SetEndPoint(const QPointF& point) { end_ = point; Apply(); }
void GraphicsEllipseItem::SetPen(const QPen& pen) { setPen(pen); }
QVector<QPointF> GraphicsEllipseItem::HandlePositions() const { return BoxHandles(start_, end_); }
void GraphicsEllipseItem::ResizeByHandle(int index, const QPointF& point) {
  ResizeBox(&start_, &end_, index, point);
  Apply();
}
QPainterPath GraphicsEllipseItem::shape() const {
  QPainterPath path;
  path.addEllipse(rect());
  return Outline(path, pen());
}
void GraphicsEllipseItem::Apply() {
  setRect(QRectF(start_, end_).normalized());
  PlaceHandles();
}

GraphicsArrowItem::GraphicsArrowItem() = default;
void GraphicsArrowItem::SetStartPoint(const QPointF& point) { start_ = end_ = point; Apply(); }
void GraphicsArrowItem::SetEndPoint(const QPointF& point) { end_ = point; Apply(); }
void GraphicsArrowItem::SetPen(const QPen& pen) {
  thickness_ = qMax<double>(pen.widthF(), 1);
  QPen outline(pen.color(), 1);
  outline.setJoinStyle(Qt::RoundJoin);
  setPen(outline);
  setBrush(pen.color());
  Apply();
}
QVector<QPointF> GraphicsArrowItem::HandlePositions() const { return {start_, end_}; }
void GraphicsArrowItem::ResizeByHandle(int index, const QPointF& point) {
  if (index == 0) start_ = point;
  if (index == 1) end_ = point;
  Apply();
}
QPainterPath GraphicsArrowItem::shape() const {
  QPainterPath path;
  path.addPolygon(polygon());
  path.closeSubpath();
  QPainterPath line;
  line.moveTo(start_);
  line.lineTo(end_);
  return path.united(Outline(line, QPen(Qt::black, thickness_)));
}

QPolygonF GraphicsArrowItem::ArrowPolygon(const QPointF& start, const QPointF& end, double thickness) {
  const QLineF line(start, end);
  const double length = line.length();
  if (length < 1) return QPolygonF();
  const QPointF unit = (end - start) / length;
  const QPointF normal(-unit.y(), unit.x());
  // The head grows with the line but never beyond the whole arrow.
  const double head = qMin(length, 3 * thickness + 10);
  const double head_half = head * 0.45;
  const QPointF base = end - unit * head;
  return QPolygonF({start + normal * (thickness * 0.25), base + normal * (thickness * 0.6),
                    base + normal * head_half, end, base - normal * head_half,
                    base - normal * (thickness * 0.6), start - normal * (thickness * 0.25)});
}

void GraphicsArrowItem::Apply() {
  setPolygon(ArrowPolygon(start_, end_, thickness_));
  PlaceHandles();
}

GraphicsChangeItem::GraphicsChangeItem(GraphicsItem* owner, int index, QGraphicsItem* parent)
    : QGraphicsEllipseItem(-kRadius, -kRadius, 2 * kRadius, 2 * kRadius, parent), owner_(owner), index_(index) {
  setPen(QPen(QColor(0x67, 0x8B, 0xF1), 1.5));
  setBrush(Qt::white);
  setAcceptHoverEvents(true);
  setCursor(Qt::CrossCursor);
  setZValue(1);
}

void GraphicsChangeItem::mousePressEvent(QGraphicsSceneMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  event->accept();
}

void GraphicsChangeItem::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
  owner_->ResizeByHandle(index_, parentItem()->mapFromScene(event->scenePos()));
}

void GraphicsChangeItem::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) { event->accept(); }

void GraphicsChangeItem::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
  SetInChangeArea(true);
  QGraphicsEllipseItem::hoverEnterEvent(event);
}

void GraphicsChangeItem::hoverLeaveEvent(QGraphicsSceneHoverEvent* event) {
  SetInChangeArea(false);
  QGraphicsEllipseItem::hoverLeaveEvent(event);
}

void GraphicsChangeItem::SetInChangeArea(bool on) { SetViewProperty(this, "inChangeArea", on); }

}  // namespace Image_Drawer_GUI
