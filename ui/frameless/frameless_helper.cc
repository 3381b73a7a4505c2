#include "ui/frameless/frameless_helper.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include "ui/frameless/compositing.h"

namespace frameless {
namespace {

constexpr int kCorner = 7;
enum ShadowPiece { kLeft, kTop, kRight, kBottom, kLeftTop, kLeftBottom, kRightTop, kRightBottom };

}  // namespace

// Mouse events reach the widget under the pointer, and a plain title label or
// a child that ignores presses would otherwise hide them from the window. An
// application filter sees them first, which also keeps non-client zones from
// clicking the children below them, as a hit test would.
class FramelessHelper::PointerFilter : public QObject {
 public:
  explicit PointerFilter(FramelessHelper* helper) : QObject(helper), helper_(helper) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove:
        break;
      default:
        return false;
    }
    if (!watched->isWidgetType()) return false;
    QWidget* target = static_cast<QWidget*>(watched);
    if (target->window() != helper_->window_) return false;
    return helper_->HandleMouse(target, static_cast<QMouseEvent*>(event));
  }

 private:
  FramelessHelper* const helper_;
};

FramelessHelper::FramelessHelper(QWidget* window, Hooks hooks)
    : QObject(window), window_(window), hooks_(std::move(hooks)) {
  static const char* const kShadowPaths[8] = {
      ":/frameless/shadow/shadow_left.png",      ":/frameless/shadow/shadow_top.png",
      ":/frameless/shadow/shadow_right.png",     ":/frameless/shadow/shadow_bottom.png",
      ":/frameless/shadow/shadow_left_top.png",  ":/frameless/shadow/shadow_left_bottom.png",
      ":/frameless/shadow/shadow_right_top.png", ":/frameless/shadow/shadow_right_bottom.png"};
  for (int i = 0; i < 8; ++i) shadow_images_[i].load(QString::fromLatin1(kShadowPaths[i]));

  const Qt::WindowFlags flags = window_->windowFlags();
  had_maximize_hint_ = flags.testFlag(Qt::WindowMaximizeButtonHint);
  had_minimize_hint_ = flags.testFlag(Qt::WindowMinimizeButtonHint);
  window_->setWindowFlags(flags | Qt::FramelessWindowHint);
  window_->setContentsMargins(kBorderWidth, kBorderWidth, kBorderWidth, kBorderWidth);
  window_->setAttribute(Qt::WA_TranslucentBackground);
  window_->installEventFilter(this);
  qApp->installEventFilter(new PointerFilter(this));
}

FramelessHelper::~FramelessHelper() = default;

void FramelessHelper::SetShadow(bool on) {
  shadow_ = on;
  ApplyMargins();
}

void FramelessHelper::ApplyMargins() {
  const int margin = HasShadow() ? kBorderWidth : 0;
  window_->setContentsMargins(margin, margin, margin, margin);
  window_->update();
}

HitZone FramelessHelper::ZoneAt(const QPoint& pos) const {
  const Qt::WindowStates state = window_->windowState();
  HitTestInput input;
  input.size = window_->size();
  // A maximised window has no border to drag: the window manager would
  // refuse or restore it halfway. A fixed-size window shows no resize arrows.
  input.resizable = (!hooks_.resizable || hooks_.resizable()) && !state.testFlag(Qt::WindowMaximized) &&
                    window_->minimumSize() != window_->maximumSize();
  input.minimized = state.testFlag(Qt::WindowMinimized);
  input.full_screen = state.testFlag(Qt::WindowFullScreen);
  if (hooks_.title_bar_rect) input.title_bar = hooks_.title_bar_rect();
  if (hooks_.title_bar_children) {
    for (QWidget* child : hooks_.title_bar_children()) {
      if (child == nullptr || !child->isVisible()) continue;
      input.clickable.append(QRect(child->mapTo(window_, QPoint(0, 0)), child->size()));
    }
  }
  return HitTest(pos, input);
}

bool FramelessHelper::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::Paint:
      PaintShadow();
      break;
    case QEvent::WindowStateChange: {
      const Qt::WindowStates state = window_->windowState();
      SetShadow(!state.testFlag(Qt::WindowMaximized) && !state.testFlag(Qt::WindowFullScreen));
      break;
    }
    case QEvent::Show:
      composited_ = CompositingManagerRunning();
      ApplyMargins();
      break;
    case QEvent::Leave:
      SetZoneCursor(HitZone::kClient);
      break;
    case QEvent::Polish:
    case QEvent::StyleChange:
      // A style sheet that gives the window type a background would paint
      // the whole rectangle, shadow band included; the helper paints the
      // window's background itself.
      window_->setAttribute(Qt::WA_StyledBackground, false);
      break;
    default:
      break;
  }
  return false;
}

void FramelessHelper::PaintShadow() {
  QPainter painter(window_);
  painter.setRenderHint(QPainter::Antialiasing);
  // Unblended, the translucent outline would come out black: use the grey it
  // makes over white.
  painter.setPen(composited_ ? QColor(0, 0, 0, 30) : QColor(225, 225, 225));
  painter.setBrush(Qt::white);
  const int w = window_->width();
  const int h = window_->height();
  const Qt::WindowStates state = window_->windowState();
  if (!HasShadow() || state.testFlag(Qt::WindowMaximized) || state.testFlag(Qt::WindowFullScreen)) {
    // Half a pixel in, so the outline falls on whole pixels.
    painter.drawRect(QRectF(window_->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    return;
  }
  const int b = kBorderWidth;
  const int c = kCorner;
  const QRect targets[8] = {
      QRect(0, c, b, h - 2 * c),      QRect(c, 0, w - 2 * c, b),
      QRect(w - b, c, b, h - 2 * c),  QRect(c, h - b, w - 2 * c, b),
      QRect(0, 0, c, c),              QRect(0, h - c, c, c),
      QRect(w - c, 0, c, c),          QRect(w - c, h - c, c, c)};
  for (int i = 0; i < 8; ++i) {
    if (!shadow_images_[i].isNull()) painter.drawPixmap(targets[i], shadow_images_[i]);
  }
  painter.drawRoundedRect(QRect(b, b, w - 2 * b, h - 2 * b), 2, 2);
}

bool FramelessHelper::HandleMouse(QWidget* target, QMouseEvent* event) {
  Q_UNUSED(target);
  const QPoint global = event->globalPos();
  const QPoint pos = window_->mapFromGlobal(global);
  switch (event->type()) {
    case QEvent::MouseMove: {
      if (caption_pressed_) {
        if (!(event->buttons() & Qt::LeftButton)) {
          caption_pressed_ = false;
          return false;
        }
        if (!moving_by_hand_) {
          if ((global - press_global_).manhattanLength() < QApplication::startDragDistance()) return true;
          QWindow* handle = window_->windowHandle();
          if (handle != nullptr && handle->startSystemMove()) {
            caption_pressed_ = false;
            return true;
          }
          // No window manager support (or none running): follow the pointer.
          moving_by_hand_ = true;
        }
        window_->move(press_window_pos_ + (global - press_global_));
        return true;
      }
      if (event->buttons() == Qt::NoButton) SetZoneCursor(ZoneAt(pos));
      return false;
    }
    case QEvent::MouseButtonPress: {
      if (event->button() != Qt::LeftButton) return false;
      const HitZone zone = ZoneAt(pos);
      if (IsResizeZone(zone)) {
        if (QWindow* handle = window_->windowHandle()) handle->startSystemResize(ResizeEdges(zone));
        return true;
      }
      if (zone != HitZone::kCaption) return false;
      caption_pressed_ = true;
      moving_by_hand_ = false;
      press_global_ = global;
      press_window_pos_ = window_->pos();
      return true;
    }
    case QEvent::MouseButtonDblClick: {
      if (event->button() != Qt::LeftButton) return false;
      const HitZone zone = ZoneAt(pos);
      if (zone == HitZone::kClient) return false;
      caption_pressed_ = false;
      if (zone == HitZone::kCaption) ToggleMaximized();
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (event->button() != Qt::LeftButton || !caption_pressed_) return false;
      caption_pressed_ = false;
      return true;
    }
    default:
      return false;
  }
}

void FramelessHelper::SetZoneCursor(HitZone zone) {
  if (IsResizeZone(zone)) {
    window_->setCursor(ZoneCursor(zone));
    cursor_set_ = true;
  } else if (cursor_set_) {
    window_->unsetCursor();
    cursor_set_ = false;
  }
}

void FramelessHelper::ToggleMaximized() {
  if (!had_maximize_hint_) return;
  if (window_->isMaximized()) {
    window_->showNormal();
  } else if (!hooks_.resizable || hooks_.resizable()) {
    window_->showMaximized();
  }
}

}  // namespace frameless
