// The magnifying box that follows the cursor while the screenshot overlay
// selects: the pixels around the cursor enlarged four times with a
// cross-hair, and below them the selection size, the cursor position and the
// colour under it. A window of its own (flags as the overlay), owned by the
// overlay; GUI thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

class Magnifier : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kZoom = 4;
  static constexpr int kWidth = 120;
  static constexpr int kHeight = 190;

  explicit Magnifier(QWidget* parent = nullptr);

  // The grabbed screen (device pixels, its devicePixelRatio set).
  void SetScreenImage(const QImage& image);
  // Shows the surroundings of `global_pos` (device-independent pixels) and
  // moves the box next to it, to the other side near the right and bottom
  // edges. `selection_size` is shown as the width and height.
  void UpdateAt(const QPoint& global_pos, const QSize& selection_size);
  QColor CurrentColor() const { return color_; }

 signals:
  // A key released while the box had the keyboard; the overlay handles it.
  void Sig_KeyClicked(Qt::Key key);

 protected:
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  const int zoom_ = kZoom;
  QImage zoomed_;       // kWidth x kWidth, the enlarged surroundings
  QImage screen_;
  QColor color_;
  QSize selection_size_;
  QPoint cursor_;       // device-independent
  QSize edge_margin_;   // beyond this the box flips to the other side
};
