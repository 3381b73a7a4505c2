// Base of the program's frameless main windows: no system frame, its own
// title bar (given by the subclass through the two hooks), a shadow band, and
// moving, resizing and maximising through the window manager.
// GUI thread only.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QRect>

#include "ui/frameless/frameless_helper.h"

namespace frameless {

class FramelessWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit FramelessWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
  ~FramelessWindow() override;

  // The border resizes the window (default true).
  void SetResizable(bool resizable) { resizable_ = resizable; }
  bool IsResizable() const { return resizable_; }

  FramelessHelper* Helper() const { return helper_; }

  // The title-bar rectangle in window coordinates: pressing there drags the
  // window, double-clicking maximises or restores it. Empty by default.
  virtual QRect TitleBarRect() const;
  // Children inside the title bar that keep their own clicks (buttons).
  virtual QList<QWidget*> TitleBarChildren() const;

 private:
  bool resizable_ = true;
  FramelessHelper* helper_ = nullptr;
};

}  // namespace frameless
