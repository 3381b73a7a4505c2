#include "ui/screenshot/screen_shot_widget.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

#include "base/log.h"
#include "ui/screenshot/image_drawer.h"
#include "ui/screenshot/magnifier.h"
#include "ui/screenshot/tools.h"

namespace {

const QColor kAccent(0x67, 0x8B, 0xF1);
constexpr int kDimAlpha = 60;
constexpr int kEdgeReach = 4;     // how near a side the pointer grabs it
constexpr int kHandleSize = 6;
constexpr int kBarGap = 4;

// The rectangle spanned by two points, the second one exclusive.
QRect Span(const QPoint& a, const QPoint& b) {
  return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())), QSize(qAbs(a.x() - b.x()), qAbs(a.y() - b.y())));
}

int RightOf(const QRect& r) { return r.x() + r.width(); }
int BottomOf(const QRect& r) { return r.y() + r.height(); }

// A blue cross with a white rim, readable on light and dark screens.
QCursor CrossCursor() {
  QPixmap pixmap(23, 23);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QPen(Qt::white, 4));
  painter.drawLine(11, 1, 11, 21);
  painter.drawLine(1, 11, 21, 11);
  painter.setPen(QPen(kAccent, 2));
  painter.drawLine(11, 1, 11, 21);
  painter.drawLine(1, 11, 21, 11);
  painter.end();
  return QCursor(pixmap, 11, 11);
}

}  // namespace

ScreenShotWidget::ScreenShotWidget(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::ToolTip) {
  // A passing tool: its going away never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    ratio_ = screen->devicePixelRatio();
    device_origin_ = screen->geometry().topLeft() * ratio_;
    windows_ = screenshot::ListTopLevelWindows();
    screen_image_ = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
  }
  if (screen_image_.isNull()) {
    LogMessage(kLogWarning, "screenshot: the screen could not be grabbed");
    screen_image_ = QImage(QSize(1, 1), QImage::Format_RGB32);
    screen_image_.fill(Qt::black);
  }
  screen_image_.setDevicePixelRatio(ratio_);
  dimmed_image_ = screen_image_.copy();
  {
    QPainter painter(&dimmed_image_);
    painter.fillRect(QRect(QPoint(0, 0), (QSizeF(screen_image_.size()) / ratio_).toSize()), QColor(0, 0, 0, kDimAlpha));
  }
  widget_rect_ = QRect(QPoint(0, 0), (QSizeF(screen_image_.size()) / ratio_).toSize());

  magnifier_ = new Magnifier(this);
  magnifier_->SetScreenImage(screen_image_);
  tools_ = new Tools(this);
  tools_->hide();
  draw_tools_ = new DrawTools(this);
  draw_tools_->hide();

  connect(magnifier_, &Magnifier::Sig_KeyClicked, this, [this](Qt::Key key) {
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    keyReleaseEvent(&release);
  });
  connect(tools_, &Tools::Sig_Draw, this, &ScreenShotWidget::OnDraw);
  connect(tools_, &Tools::Sig_Download, this, &ScreenShotWidget::OnDownload);
  connect(tools_, &Tools::Sig_ClipBoard, this, &ScreenShotWidget::OnClipBoard);
  connect(tools_, &Tools::Sig_Finished, this, &ScreenShotWidget::deleteLater);

  setGeometry(QRect(screen != nullptr ? screen->geometry().topLeft() : QPoint(0, 0), widget_rect_.size()));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setCursor(CrossCursor());
  show();
  activateWindow();
  setFocus(Qt::ActiveWindowFocusReason);
  GrabKeyboardSoon();

  last_pos_ = mapFromGlobal(QCursor::pos());
  UpdateHover(last_pos_);
  UpdateMagnifier(last_pos_, hover_rect_.size());
  magnifier_->show();
  magnifier_->raise();
}

ScreenShotWidget::~ScreenShotWidget() {
  if (windowHandle() != nullptr) windowHandle()->setKeyboardGrabEnabled(false);
}

// The overlay is not managed by the window manager, which therefore never
// gives it the keyboard; it takes it itself once it is on the screen.
void ScreenShotWidget::GrabKeyboardSoon() {
  if (!isVisible() || windowHandle() == nullptr) return;
  if (windowHandle()->setKeyboardGrabEnabled(true)) return;
  if (++keyboard_grab_tries_ < 40) QTimer::singleShot(50, this, &ScreenShotWidget::GrabKeyboardSoon);
}

QPoint ScreenShotWidget::Clamp(const QPoint& pos) const {
  return QPoint(qBound(0, pos.x(), widget_rect_.width()), qBound(0, pos.y(), widget_rect_.height()));
}

QRect ScreenShotWidget::DeviceRect(const QRect& rect) const {
  return QRect(qRound(rect.x() * ratio_), qRound(rect.y() * ratio_), qRound(rect.width() * ratio_),
               qRound(rect.height() * ratio_));
}

ScreenShotWidget::HitZone ScreenShotWidget::ZoneAt(const QPoint& p) const {
  if (selection_.isEmpty()) return HitZone::kOutside;
  const int left = selection_.x(), right = RightOf(selection_);
  const int top = selection_.y(), bottom = BottomOf(selection_);
  const bool near_left = qAbs(p.x() - left) <= kEdgeReach, near_right = qAbs(p.x() - right) <= kEdgeReach;
  const bool near_top = qAbs(p.y() - top) <= kEdgeReach, near_bottom = qAbs(p.y() - bottom) <= kEdgeReach;
  const bool within_x = p.x() >= left - kEdgeReach && p.x() <= right + kEdgeReach;
  const bool within_y = p.y() >= top - kEdgeReach && p.y() <= bottom + kEdgeReach;
  if (near_left && near_top) return HitZone::kTopLeft;
  if (near_right && near_top) return HitZone::kTopRight;
  if (near_left && near_bottom) return HitZone::kBottomLeft;
  if (near_right && near_bottom) return HitZone::kBottomRight;
  if (near_left && within_y) return HitZone::kLeft;
  if (near_right && within_y) return HitZone::kRight;
  if (near_top && within_x) return HitZone::kTop;
  if (near_bottom && within_x) return HitZone::kBottom;
  if (p.x() > left && p.x() < right && p.y() > top && p.y() < bottom) return HitZone::kInside;
  return HitZone::kOutside;
}

void ScreenShotWidget::UpdateHover(const QPoint& pos) {
  const QPoint device = device_origin_ + QPoint(qRound(pos.x() * ratio_), qRound(pos.y() * ratio_));
  QVector<unsigned long> own;
  own << static_cast<unsigned long>(winId()) << static_cast<unsigned long>(magnifier_ ? magnifier_->winId() : 0);
  const QRect found = screenshot::WindowClientAt(windows_, device, screen_image_.size(), own);
  QRect hover;
  if (!found.isNull()) {
    // Outwards to whole pixels: at a fractional ratio a window edge between
    // two logical pixels is kept in rather than cut off.
    const QRectF local(found.translated(-device_origin_));
    hover = QRectF(local.topLeft() / ratio_, local.size() / ratio_).toAlignedRect().intersected(widget_rect_);
  }
  // Inside the proposed window with nothing better found: keep it.
  if (hover.isNull() && hover_rect_.contains(pos)) return;
  if (hover == hover_rect_) return;
  hover_rect_ = hover;
  update();
}

void ScreenShotWidget::UpdateMagnifier(const QPoint& pos, const QSize& size) {
  magnifier_->UpdateAt(mapToGlobal(pos), size);
  magnifier_->raise();
}

void ScreenShotWidget::UpdateCursor(const QPoint& pos) {
  if (drawer_) return;
  switch (ZoneAt(pos)) {
    case HitZone::kLeft:
    case HitZone::kRight: setCursor(Qt::SizeHorCursor); break;
    case HitZone::kTop:
    case HitZone::kBottom: setCursor(Qt::SizeVerCursor); break;
    case HitZone::kTopLeft:
    case HitZone::kBottomRight: setCursor(Qt::SizeFDiagCursor); break;
    case HitZone::kTopRight:
    case HitZone::kBottomLeft: setCursor(Qt::SizeBDiagCursor); break;
    case HitZone::kInside: setCursor(Qt::SizeAllCursor); break;
    case HitZone::kOutside: setCursor(CrossCursor()); break;
  }
}

void ScreenShotWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || drawer_) {
    event->accept();
    return;
  }
  const QPoint pos = Clamp(event->pos());
  pressing_ = true;
  press_pos_ = pos;
  last_pos_ = pos;
  press_selection_ = selection_;
  hit_zone_ = ZoneAt(pos);
  const int left = selection_.x(), right = RightOf(selection_);
  const int top = selection_.y(), bottom = BottomOf(selection_);
  switch (hit_zone_) {
    case HitZone::kOutside:
      resize_mode_ = kNewSelection;
      anchor_ = pos;
      selection_ = QRect(pos, QSize(0, 0));
      break;
    case HitZone::kInside: resize_mode_ = kMove; break;
    case HitZone::kLeft: resize_mode_ = kHorizontal; anchor_ = QPoint(right, top); break;
    case HitZone::kRight: resize_mode_ = kHorizontal; anchor_ = QPoint(left, top); break;
    case HitZone::kTop: resize_mode_ = kVertical; anchor_ = QPoint(left, bottom); break;
    case HitZone::kBottom: resize_mode_ = kVertical; anchor_ = QPoint(left, top); break;
    case HitZone::kTopLeft: resize_mode_ = kBoth; anchor_ = QPoint(right, bottom); break;
    case HitZone::kTopRight: resize_mode_ = kBoth; anchor_ = QPoint(left, bottom); break;
    case HitZone::kBottomLeft: resize_mode_ = kBoth; anchor_ = QPoint(right, top); break;
    case HitZone::kBottomRight: resize_mode_ = kBoth; anchor_ = QPoint(left, top); break;
  }
  tools_->hide();
  draw_tools_->hide();
  UpdateMagnifier(pos, selection_.size());
  magnifier_->show();
  update();
}

void ScreenShotWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = Clamp(event->pos());
  last_pos_ = pos;
  if (drawer_) return;
  if (pressing_) {
    switch (resize_mode_) {
      case kNewSelection:
      case kBoth: selection_ = Span(anchor_, pos); break;
      case kHorizontal:
        selection_ = QRect(qMin(anchor_.x(), pos.x()), press_selection_.y(), qAbs(anchor_.x() - pos.x()),
                           press_selection_.height());
        break;
      case kVertical:
        selection_ = QRect(press_selection_.x(), qMin(anchor_.y(), pos.y()), press_selection_.width(),
                           qAbs(anchor_.y() - pos.y()));
        break;
      case kMove: {
        QRect moved = press_selection_.translated(pos - press_pos_);
        moved.moveLeft(qBound(0, moved.x(), widget_rect_.width() - moved.width()));
        moved.moveTop(qBound(0, moved.y(), widget_rect_.height() - moved.height()));
        selection_ = moved;
        break;
      }
    }
    UpdateMagnifier(pos, selection_.size());
    update();
    return;
  }
  if (selection_.isEmpty()) {
    UpdateHover(pos);
    UpdateMagnifier(pos, hover_rect_.size());
    if (!magnifier_->isVisible()) magnifier_->show();
    return;
  }
  UpdateCursor(pos);
}

void ScreenShotWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = Clamp(event->pos());
  if (event->button() == Qt::RightButton) {
    if (!selection_.isEmpty() || drawer_) {
      BackToSelecting();
    } else {
      deleteLater();
    }
    return;
  }
  if (event->button() != Qt::LeftButton || !pressing_) return;
  pressing_ = false;
  last_pos_ = pos;
  UpdateMagnifier(pos, selection_.size());
  if (selection_.isEmpty() && !hover_rect_.isEmpty() && pos == press_pos_) selection_ = hover_rect_;
  if (!selection_.isEmpty()) {
    magnifier_->hide();
    PlaceTools();
    tools_->show();
    tools_->raise();
  } else {
    selection_ = QRect();
    tools_->hide();
    draw_tools_->hide();
  }
  UpdateCursor(pos);
  update();
}

void ScreenShotWidget::BackToSelecting() {
  selection_ = QRect();
  pressing_ = false;
  tools_->hide();
  draw_tools_->hide();
  tools_->ClearShape();
  if (drawer_) {
    drawer_->hide();
    drawer_->deleteLater();  // may be inside its own event handler now
    drawer_ = nullptr;
  }
  hover_rect_ = QRect();
  UpdateHover(last_pos_);
  UpdateMagnifier(last_pos_, hover_rect_.size());
  magnifier_->show();
  setCursor(CrossCursor());
  update();
}

void ScreenShotWidget::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_C && !event->isAutoRepeat()) {
    const QPoint device(qRound(last_pos_.x() * ratio_), qRound(last_pos_.y() * ratio_));
    const QColor color = screen_image_.valid(device) ? QColor(screen_image_.pixel(device)) : QColor(Qt::black);
    QApplication::clipboard()->setText(
        QStringLiteral("%1, %2, %3").arg(color.red()).arg(color.green()).arg(color.blue()));
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    deleteLater();
    return;
  }
  QWidget::keyReleaseEvent(event);
}

void ScreenShotWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // Keys (Escape, C) must keep reaching the overlay while it is up; a dialog
  // of ours (saving) hides it first.
  if (event->reason() == Qt::PopupFocusReason) return;
  QTimer::singleShot(0, this, [this] {
    if (!isVisible() || QApplication::activeModalWidget() != nullptr) return;
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && (focus == this || isAncestorOf(focus))) return;
    activateWindow();
    setFocus(Qt::OtherFocusReason);
  });
}

void ScreenShotWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), dimmed_image_);
  const QRect shown = !selection_.isEmpty() ? selection_ : hover_rect_;
  if (shown.isEmpty()) return;
  painter.drawImage(shown, screen_image_, DeviceRect(shown));
  painter.setPen(QPen(kAccent, 1));
  painter.setBrush(Qt::NoBrush);
  // Just outside the area, so the canvas over it leaves the line visible.
  painter.drawRect(shown.adjusted(-1, -1, 0, 0));
  if (selection_.isEmpty() || pressing_ || drawer_) return;
  UpdateHandles();
  for (const QVector<QRect>* handles : {&corner_handles_, &horizontal_handles_, &vertical_handles_}) {
    for (const QRect& handle : *handles) painter.fillRect(handle, kAccent);
  }
}

void ScreenShotWidget::UpdateHandles() {
  const int left = selection_.x(), right = RightOf(selection_) - 1;
  const int top = selection_.y(), bottom = BottomOf(selection_) - 1;
  const int mid_x = (left + right) / 2, mid_y = (top + bottom) / 2;
  auto at = [](int x, int y) { return QRect(x - kHandleSize / 2, y - kHandleSize / 2, kHandleSize, kHandleSize); };
  corner_handles_ = {at(left, top), at(right, top), at(left, bottom), at(right, bottom)};
  horizontal_handles_ = {at(left, mid_y), at(right, mid_y)};
  vertical_handles_ = {at(mid_x, top), at(mid_x, bottom)};
}

void ScreenShotWidget::PlaceTools() {
  const int width = tools_->width(), height = tools_->height();
  const int x = qBound(0, RightOf(selection_) - width, qMax(0, widget_rect_.width() - width));
  int y = BottomOf(selection_) + kBarGap;
  if (y + height > widget_rect_.height()) {
    y = selection_.y() - kBarGap - height;
    // No room above either: inside the selection's lower edge.
    if (y < 0) y = qMax(0, BottomOf(selection_) - kBarGap - height);
  }
  tools_->move(x, y);
}

void ScreenShotWidget::PlaceDrawTools() {
  const int height = draw_tools_->height();
  const int x = qBound(0, tools_->x(), qMax(0, widget_rect_.width() - draw_tools_->width()));
  const int under_bar = tools_->y() + tools_->height() + kBarGap;
  const bool bar_below = tools_->y() >= BottomOf(selection_);
  int y;
  if (bar_below && under_bar + height <= widget_rect_.height()) {
    y = under_bar;
  } else if (bar_below && selection_.y() - kBarGap - height >= 0) {
    y = selection_.y() - kBarGap - height;
  } else {
    // The bar is above the selection (or inside it): stack on top of the bar
    // rather than over the picture.
    y = tools_->y() - kBarGap - height;
  }
  if (y < 0) y = qMin(under_bar, qMax(0, widget_rect_.height() - height));
  draw_tools_->move(x, y);
}

void ScreenShotWidget::OnDraw(int type) {
  if (selection_.isEmpty()) return;
  if (!drawer_) {
    QImage part = screen_image_.copy(DeviceRect(selection_));
    part.setDevicePixelRatio(ratio_);
    drawer_ = new ImageDrawer(part, this);
    drawer_->move(selection_.topLeft());
    drawer_->setCursor(CrossCursor());
    drawer_->OnThicknessChanged(draw_tools_->Thickness());
    drawer_->OnColorChanged(draw_tools_->Color());
    connect(draw_tools_, &DrawTools::Sig_ThicknessChanged, drawer_, &ImageDrawer::OnThicknessChanged);
    connect(draw_tools_, &DrawTools::Sig_ColorChanged, drawer_, &ImageDrawer::OnColorChanged);
    connect(tools_, &Tools::Sig_Undo, drawer_, &ImageDrawer::Undo);
    connect(drawer_, &ImageDrawer::Sig_RightClicked, this, &ScreenShotWidget::BackToSelecting);
    drawer_->show();
    PlaceDrawTools();
    draw_tools_->show();
    tools_->raise();
    draw_tools_->raise();
    setCursor(Qt::ArrowCursor);
    update();
  }
  drawer_->SetShapeType(type);
}

QImage ScreenShotWidget::ResultImage() {
  if (selection_.isEmpty()) return QImage();
  if (drawer_) return drawer_->ResultImage();
  QImage part = screen_image_.copy(DeviceRect(selection_));
  part.setDevicePixelRatio(ratio_);
  return part;
}

QString ScreenShotWidget::ProposedSaveName() {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) dir = QDir::homePath();
  return dir + QString::fromUtf8("/未命名.jpg");
}

void ScreenShotWidget::OnClipBoard() {
  const QImage image = ResultImage();
  if (!image.isNull()) {
    QApplication::clipboard()->setImage(image);
    emit Sig_ClipBoard();
  }
  deleteLater();
}

void ScreenShotWidget::OnDownload() {
  const QImage image = ResultImage();
  draw_tools_->hide();
  emit Sig_DeleteLated();
  // The overlay stays above everything else; the dialog must be seen.
  if (windowHandle() != nullptr) windowHandle()->setKeyboardGrabEnabled(false);
  magnifier_->hide();
  hide();
  QPointer<ScreenShotWidget> alive(this);
  // A dialog of its own rather than the static helper: with the main window
  // away (minimised to the tray) its closing must not count as the
  // program's last window closing.
  const QFileInfo proposed(ProposedSaveName());
  QFileDialog dialog(nullptr, QString::fromUtf8("保存"), proposed.absolutePath(), QStringLiteral("(*.jpg);(*.png)"));
  dialog.setAttribute(Qt::WA_QuitOnClose, false);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(proposed.fileName());
  QString path;
  if (dialog.exec() == QDialog::Accepted) path = dialog.selectedFiles().value(0);
  if (!path.isEmpty() && !image.isNull()) {
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".jpg");
    const bool jpeg = QFileInfo(path).suffix().compare(QLatin1String("png"), Qt::CaseInsensitive) != 0;
    if (!image.save(path, nullptr, jpeg ? 95 : -1)) {
      LogMessage(kLogWarning, "screenshot: could not save %s", path.toUtf8().constData());
      QMessageBox box(QMessageBox::Warning, QString::fromUtf8("保存"),
                      QString::fromUtf8("图片无法保存到：\n%1").arg(path));
      box.setAttribute(Qt::WA_QuitOnClose, false);
      box.exec();
    }
  }
  if (alive) deleteLater();
}
