#include "ui/screenshot/image_drawer.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/screenshot/graphics_items.h"

using Image_Drawer_GUI::GraphicsItem;

ImageDrawer::ImageDrawer(const QImage& image, QWidget* parent) : QWidget(parent), color_(251, 56, 56) {
  const double ratio = image.devicePixelRatio() > 0 ? image.devicePixelRatio() : 1.0;
  const QSize size = (QSizeF(image.size()) / ratio).toSize();
  setFixedSize(size);
  setFocusPolicy(Qt::NoFocus);

  scene_ = new QGraphicsScene(QRectF(QPointF(0, 0), QSizeF(size)), this);
  auto* background = scene_->addPixmap(QPixmap::fromImage(image));
  background->setZValue(-1);
  background->setAcceptedMouseButtons(Qt::NoButton);

  view_ = new QGraphicsView(scene_, this);
  view_->setFrameShape(QFrame::NoFrame);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setFocusPolicy(Qt::NoFocus);
  view_->setFixedSize(size);
  view_->setSceneRect(scene_->sceneRect());
  view_->setProperty("OccupyFocus", false);
  view_->setProperty("inChangeArea", false);
  view_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
}

ImageDrawer::~ImageDrawer() {
  // The scene deletes the items; forget them first so nothing points at them.
  current_ = nullptr;
  items_.clear();
}

void ImageDrawer::SetShapeType(int type) { type_ = type; }

void ImageDrawer::OnThicknessChanged(int thickness) { thickness_ = thickness; }

void ImageDrawer::OnColorChanged(QColor color) { color_ = color; }

void ImageDrawer::Undo() {
  if (items_.isEmpty()) return;
  GraphicsItem* last = items_.takeLast();
  if (last == current_) current_ = nullptr;
  scene_->removeItem(last->Item());
  delete last;
  // The removed shape may have been under the pointer; the next hover marks
  // whatever is there now.
  view_->setProperty("OccupyFocus", false);
  view_->setProperty("inChangeArea", false);
}

QImage ImageDrawer::ResultImage() {
  for (GraphicsItem* item : items_) item->ShowHandles(false);
  return grab().toImage();
}

GraphicsItem* ImageDrawer::CreateShape() const {
  switch (type_) {
    case kRect: return new Image_Drawer_GUI::GraphicsRectItem;
    case kEllipse: return new Image_Drawer_GUI::GraphicsEllipseItem;
    case kArrow: return new Image_Drawer_GUI::GraphicsArrowItem;
    default: return nullptr;
  }
}

QPointF ImageDrawer::ClampToCanvas(const QPointF& point) const {
  const QRectF bounds = scene_->sceneRect();
  return QPointF(qBound(bounds.left(), point.x(), bounds.right()), qBound(bounds.top(), point.y(), bounds.bottom()));
}

bool ImageDrawer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_->viewport()) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::RightButton) return true;
      if (mouse->button() != Qt::LeftButton) return false;
      // On a shape: the shape moves or resizes itself.
      if (view_->property("OccupyFocus").toBool()) return false;
      start_ = ClampToCanvas(view_->mapToScene(mouse->pos()));
      pressing_ = true;
      current_ = nullptr;
      return true;
    }
    case QEvent::MouseMove: {
      if (!pressing_) return false;
      if (view_->property("inChangeArea").toBool()) return false;
      auto* mouse = static_cast<QMouseEvent*>(event);
      const QPointF point = ClampToCanvas(view_->mapToScene(mouse->pos()));
      if (current_ == nullptr) {
        if (point == start_) return true;
        current_ = CreateShape();
        if (current_ == nullptr) return true;
        scene_->addItem(current_->Item());
        current_->SetPen(QPen(color_, thickness_));
        current_->SetStartPoint(start_);
        items_.append(current_);
      }
      current_->SetEndPoint(point);
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::RightButton) {
        emit Sig_RightClicked();
        return true;
      }
      if (mouse->button() != Qt::LeftButton || !pressing_) return false;
      pressing_ = false;
      current_ = nullptr;
      return true;
    }
    default:
      return false;
  }
}
