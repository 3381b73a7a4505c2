// The annotation canvas over the selected part of a screenshot: a graphics
// view showing the selected image, on which the user drags rectangles,
// ellipses and arrows. A child of the screenshot overlay, placed over the
// selection; GUI thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QWidget>

class QGraphicsScene;
class QGraphicsView;

namespace Image_Drawer_GUI {
class GraphicsItem;
}

class ImageDrawer : public QWidget {
  Q_OBJECT

 public:
  enum ShapeType { kNoShape = 0, kRect = 1, kEllipse = 2, kArrow = 3 };

  // `image` in device pixels with its devicePixelRatio set; the canvas is
  // as large as the image in device-independent pixels.
  ImageDrawer(const QImage& image, QWidget* parent);
  ~ImageDrawer() override;

  void SetShapeType(int type);
  int ShapeType() const { return type_; }
  int ShapeCount() const { return items_.size(); }
  QGraphicsView* View() const { return view_; }
  const QList<Image_Drawer_GUI::GraphicsItem*>& Shapes() const { return items_; }

  // The canvas as it looks, annotations included, without the handles.
  QImage ResultImage();

 public slots:
  void OnThicknessChanged(int thickness);
  void OnColorChanged(QColor color);
  // Removes the most recently created shape; nothing when there is none.
  void Undo();

 signals:
  // The right button was released over the canvas; the overlay goes back to
  // selecting.
  void Sig_RightClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Image_Drawer_GUI::GraphicsItem* CreateShape() const;
  QPointF ClampToCanvas(const QPointF& point) const;

  QGraphicsView* view_ = nullptr;
  QGraphicsScene* scene_ = nullptr;
  int type_ = kNoShape;
  QColor color_;
  int thickness_ = 2;
  QList<Image_Drawer_GUI::GraphicsItem*> items_;  // creation order
  Image_Drawer_GUI::GraphicsItem* current_ = nullptr;
  QPointF start_;
  bool pressing_ = false;
};
