// A frameless window and a frameless dialog laid out like the program's: an
// accent title bar with a title text and buttons, content below. Shared by
// the frameless tests and the look check.
#pragma once

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QVariant>

#include "ui/common/dpi_scale.h"
#include "ui/frameless/frameless_dialog.h"
#include "ui/frameless/frameless_window.h"
#include "ui/frameless/qss_manager.h"

namespace frameless_test {

inline QWidget* MakeTitleBar(QWidget* parent, const QString& object_name, const QString& title,
                             QLabel** title_lb, QList<QPushButton*>* buttons,
                             const QStringList& button_names, int height) {
  QWidget* bar = new QWidget(parent);
  bar->setObjectName(object_name);
  bar->setAttribute(Qt::WA_StyledBackground);
  bar->setFixedHeight(height);
  auto* layout = new QHBoxLayout(bar);
  layout->setContentsMargins(int(12 * DpiScale()), 0, int(6 * DpiScale()), 0);
  layout->setSpacing(int(4 * DpiScale()));
  *title_lb = new QLabel(title, bar);
  (*title_lb)->setObjectName(object_name == "titleBar" ? "appName_lb" : "title_lb");
  layout->addWidget(*title_lb);
  layout->addStretch();
  for (const QString& name : button_names) {
    auto* button = new QPushButton(bar);
    button->setObjectName(name);
    button->setProperty("isMaximized", false);
    button->setCursor(Qt::PointingHandCursor);
    layout->addWidget(button);
    buttons->append(button);
  }
  return bar;
}

class DemoWindow : public frameless::FramelessWindow {
 public:
  DemoWindow() {
    setWindowTitle("QN快信");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    title_bar_ = MakeTitleBar(central, "titleBar", "QN快信", &title_lb_, &buttons_,
                              {"min_btn", "max_btn", "close_btn"}, int(50 * DpiScale()));
    layout->addWidget(title_bar_);
    body_ = new QTextEdit(central);
    body_->setPlainText("局域网即时聊天 — frameless window body");
    body_->setFrameShape(QFrame::NoFrame);
    layout->addWidget(body_);
    setCentralWidget(central);
    auto* qss = new QssManager(this);
    qss->Apply(":/qss/main-window.css");
    resize(int(640 * DpiScale()), int(420 * DpiScale()));
  }

  QRect TitleBarRect() const override {
    return QRect(title_bar_->mapTo(this, QPoint(0, 0)), title_bar_->size());
  }
  QList<QWidget*> TitleBarChildren() const override {
    return {buttons_.begin(), buttons_.end()};
  }

  QWidget* title_bar_ = nullptr;
  QLabel* title_lb_ = nullptr;
  QTextEdit* body_ = nullptr;
  QList<QPushButton*> buttons_;  // min, max, close
};

class DemoDialog : public frameless::FramelessDialog {
 public:
  DemoDialog() {
    setWindowTitle("本机名称");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    title_bar_ = MakeTitleBar(this, "titleMainWidget", "本机名称", &title_lb_, &buttons_,
                              {"close_btn"}, int(36 * DpiScale()));
    layout->addWidget(title_bar_);
    auto* body = new QVBoxLayout;
    const int m = int(20 * DpiScale());
    body->setContentsMargins(m, m, m, m);
    body->setSpacing(int(16 * DpiScale()));
    edit_ = new QLineEdit("Workstation-07", this);
    edit_->setObjectName("rename_le");
    body->addWidget(edit_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* cancel = new QPushButton("取消", this);
    cancel->setObjectName("cancel_btn");
    auto* confirm = new QPushButton("确认", this);
    confirm->setObjectName("confirm_btn");
    row->addWidget(cancel);
    row->addWidget(confirm);
    body->addLayout(row);
    layout->addLayout(body);
    // Spare height goes below the content, so the title bar stays on top.
    layout->addStretch();
    auto* qss = new QssManager(this);
    qss->Apply(":/qss/rename_host_dialog.css");
    setFixedSize(int(360 * DpiScale()), int(180 * DpiScale()));
  }

  QRect TitleBarRect() const override {
    return QRect(title_bar_->mapTo(this, QPoint(0, 0)), title_bar_->size());
  }
  QList<QWidget*> TitleBarChildren() const override {
    return {buttons_.begin(), buttons_.end()};
  }

  QWidget* title_bar_ = nullptr;
  QLabel* title_lb_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QList<QPushButton*> buttons_;  // close
};

}  // namespace frameless_test
