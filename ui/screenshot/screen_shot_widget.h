// The full-screen screenshot overlay: grabs the primary screen when made,
// lets the user pick a region (a window under the pointer is proposed, a
// click takes it, a drag draws one; edges and corners resize it, the inside
// moves it), annotate it, and copy it to the clipboard (完成) or save it.
//
// Made by the main window (`new ScreenShotWidget`), which connects
// Sig_ClipBoard; the overlay shows itself at once and deletes itself when
// finished (完成, cancel, save, Escape, or a right-click while selecting).
// GUI thread only.
#pragma once

#include <QImage>
#include <QPointer>
#include <QRect>
#include <QVector>
#include <QWidget>

#include "ui/screenshot/image_drawer.h"
#include "ui/screenshot/window_rects_x11.h"

class DrawTools;
class Magnifier;
class Tools;

class ScreenShotWidget : public QWidget {
  Q_OBJECT

 public:
  // Where the pointer is relative to the selection.
  enum class HitZone { kInside, kLeft, kTop, kRight, kBottom, kTopLeft, kTopRight, kBottomLeft, kBottomRight, kOutside };

  explicit ScreenShotWidget(QWidget* parent = nullptr);
  ~ScreenShotWidget() override;

  // The state as the user sees it, in the overlay's own coordinates
  // (device-independent pixels). A null selection means still selecting.
  QRect Selection() const { return selection_; }
  QRect HoverRect() const { return hover_rect_; }
  HitZone ZoneAt(const QPoint& pos) const;
  ImageDrawer* Drawer() const { return drawer_; }
  Tools* ToolBar() const { return tools_; }
  DrawTools* DrawToolBar() const { return draw_tools_; }
  Magnifier* MagnifierBox() const { return magnifier_; }
  const QImage& ScreenImage() const { return screen_image_; }

  // The picture 完成 copies and 保存 writes: the canvas with its shapes
  // when drawing, otherwise the selected part of the grabbed screen.
  QImage ResultImage();

  // The name the save dialog proposes: 未命名.jpg in the user's pictures
  // directory, or in the home directory when there is none.
  static QString ProposedSaveName();

 signals:
  // The overlay leaves the screen before it is finished (the save dialog).
  void Sig_DeleteLated();
  // 完成: the result image is on the clipboard.
  void Sig_ClipBoard();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private slots:
  void OnDraw(int type);
  void OnDownload();
  void OnClipBoard();

 private:
  enum ResizeMode { kNewSelection = 0, kHorizontal = 1, kVertical = 2, kMove = 3, kBoth = 4 };

  void BackToSelecting();
  void UpdateHover(const QPoint& pos);
  void UpdateMagnifier(const QPoint& pos, const QSize& size);
  void UpdateCursor(const QPoint& pos);
  void PlaceTools();
  void PlaceDrawTools();
  void UpdateHandles();
  void GrabKeyboardSoon();
  QPoint Clamp(const QPoint& pos) const;
  QRect DeviceRect(const QRect& rect) const;

  QPointer<ImageDrawer> drawer_;  // null until a drawing tool is chosen
  Magnifier* magnifier_ = nullptr;
  Tools* tools_ = nullptr;
  DrawTools* draw_tools_ = nullptr;
  QImage screen_image_;  // device pixels, devicePixelRatio set
  QImage dimmed_image_;  // the same under the black layer
  QRect selection_;
  HitZone hit_zone_ = HitZone::kOutside;
  bool pressing_ = false;
  QPoint anchor_;           // the fixed corner or side while dragging
  QPoint press_pos_;
  QRect press_selection_;
  int resize_mode_ = kNewSelection;
  QVector<QRect> corner_handles_;
  QVector<QRect> horizontal_handles_;  // on the left and right sides
  QVector<QRect> vertical_handles_;    // on the top and bottom sides
  QRect hover_rect_;
  QRect widget_rect_;  // device-independent pixels
  QPoint last_pos_;
  double ratio_ = 1.0;
  QPoint device_origin_;  // the screen's top-left in X root pixels
  // The desktop's windows as they were at the grab; nothing moves them
  // while the overlay covers the screen.
  QVector<screenshot::WindowRect> windows_;
  int keyboard_grab_tries_ = 0;
};
