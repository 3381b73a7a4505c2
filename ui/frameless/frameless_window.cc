#include "ui/frameless/frameless_window.h"

namespace frameless {

FramelessWindow::FramelessWindow(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags) {
  // The helper adds the frameless hint itself, after noting which buttons
  // the default flags would have given the window.
  FramelessHelper::Hooks hooks;
  hooks.title_bar_rect = [this] { return TitleBarRect(); };
  hooks.title_bar_children = [this] { return TitleBarChildren(); };
  hooks.resizable = [this] { return resizable_; };
  helper_ = new FramelessHelper(this, std::move(hooks));
}

FramelessWindow::~FramelessWindow() = default;

QRect FramelessWindow::TitleBarRect() const { return QRect(); }

QList<QWidget*> FramelessWindow::TitleBarChildren() const { return {}; }

}  // namespace frameless
