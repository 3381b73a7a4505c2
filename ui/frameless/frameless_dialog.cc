#include "ui/frameless/frameless_dialog.h"

namespace frameless {

FramelessDialog::FramelessDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags) {
  // The helper adds the frameless hint itself, after noting which buttons
  // the default flags would have given the window.
  FramelessHelper::Hooks hooks;
  hooks.title_bar_rect = [this] { return TitleBarRect(); };
  hooks.title_bar_children = [this] { return TitleBarChildren(); };
  hooks.resizable = [this] { return resizable_; };
  helper_ = new FramelessHelper(this, std::move(hooks));
}

FramelessDialog::~FramelessDialog() = default;

QRect FramelessDialog::TitleBarRect() const { return QRect(); }

QList<QWidget*> FramelessDialog::TitleBarChildren() const { return {}; }

}  // namespace frameless
